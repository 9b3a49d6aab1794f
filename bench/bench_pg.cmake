# The network engine's benchmark drives the client library through its C entry points and reads
# the same server through libpq directly.
target_link_libraries(${name} PRIVATE dblib10 zyl_libpq)

# The fetch benchmark drives the client library through its C entry points and reads the
# same file through SQLite directly.
target_link_libraries(${name} PRIVATE dblib10 SQLite::SQLite3)

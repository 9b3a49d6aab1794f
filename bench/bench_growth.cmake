# The growth benchmark calls the dialect translation directly and the entry points of the
# static core.
target_link_libraries(${name} PRIVATE dblcore)

# Whole-command figures of the sorter: sort_latency (arrival to removal) is driven by
# bench/sort-commands.sh, which also times `sort --once` and `classify` over many messages.
add_executable(sort_latency ${CMAKE_CURRENT_LIST_DIR}/SortLatency.cpp)

# bench_net builds learned nets over fresh stores for the whole-command comparisons of
# bench/compare-peers.sh (no windows needed).
add_executable(bench_net ${CMAKE_CURRENT_LIST_DIR}/BenchNet.cpp)
target_link_libraries(bench_net PRIVATE brevalo_sorting)
target_include_directories(bench_net PRIVATE ${PROJECT_SOURCE_DIR})
add_dependencies(bench_net brevalo_strings)
# durable_write: a delivery that only writes the message durably, the floor deliver is
# compared against (no project libraries).
add_executable(durable_write ${CMAKE_CURRENT_LIST_DIR}/DurableWrite.cpp)
# Linked statically where it can be (not with the sanitizers): no loader, no shared
# libraries to start.
if(NOT BREVALO_SANITIZE)
  target_link_options(durable_write PRIVATE -static)
endif()
# lmtp-load: hands message files to an LMTP server over concurrent connections (no
# project libraries).
add_executable(lmtp-load ${CMAKE_CURRENT_LIST_DIR}/LmtpLoad.cpp)
target_link_libraries(lmtp-load PRIVATE Threads::Threads)

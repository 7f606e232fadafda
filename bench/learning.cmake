# The learning dialog during a run: how promptly the user-interface thread handles the
# run's progress. Builds on the test support (a build with the tests).
if(TARGET brevalo_learning AND TARGET brevalo_test_support)
  brevalo_bench(bench_learning
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/LearnDialogBench.cpp
            ${PROJECT_SOURCE_DIR}/tests/learning/LearningTestSupport.cpp
    LIBS brevalo_learning brevalo_mail brevalo_test_support)
  target_include_directories(bench_learning PRIVATE ${PROJECT_SOURCE_DIR}/tests/learning)
endif()

# The learning dialog during a run: how promptly the user-interface thread handles the
# run's progress.
if(TARGET brevalo_learning)
  brevalo_bench(bench_learning
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/LearnDialogBench.cpp
            ${PROJECT_SOURCE_DIR}/tests/learning/LearningTestSupport.cpp
    LIBS brevalo_learning brevalo_mail)
  target_include_directories(bench_learning PRIVATE ${PROJECT_SOURCE_DIR}/tests/learning)
endif()

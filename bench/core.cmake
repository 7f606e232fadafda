brevalo_bench(bench_core
  SOURCES
    CoreNetworkBench.cpp
    CoreClassifyBench.cpp
    CorePatternSetBench.cpp
    CoreNetFileBench.cpp
    CoreLearnBench.cpp
    CoreLearningOrderBench.cpp
    CoreBenchMain.cpp
  LIBS brevalo_core brevalo_mail)

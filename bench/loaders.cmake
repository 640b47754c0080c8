add_bench(loaders ${CMAKE_CURRENT_SOURCE_DIR}/loaders.cpp gfx_d3dx)
if(TARGET loaders)
  target_compile_definitions(loaders PRIVATE SHOW_DATA_DIR="${SHOW_DIR}/data")
endif()

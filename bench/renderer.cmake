add_bench(renderer ${CMAKE_CURRENT_SOURCE_DIR}/renderer.cpp gfx_d3dx)

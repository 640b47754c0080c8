add_bench(mesh_effects ${CMAKE_CURRENT_SOURCE_DIR}/mesh_effects.cpp anim engine)

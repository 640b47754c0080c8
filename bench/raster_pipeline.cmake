add_bench(raster_pipeline ${CMAKE_CURRENT_SOURCE_DIR}/raster_pipeline.cpp gfx_raster)

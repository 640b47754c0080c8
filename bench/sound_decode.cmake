add_bench(sound_decode ${CMAKE_CURRENT_SOURCE_DIR}/sound_decode.cpp PkgConfig::MPG123)
if(TARGET sound_decode)
  target_compile_definitions(sound_decode PRIVATE SHOW_MUSIC="${SHOW_DIR}/kaldra.mp3")
endif()

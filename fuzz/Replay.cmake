# Every fuzz target built with the normal compiler around fuzz/ReplayMain.cpp, and one test per
# target that replays its kept corpus (fuzz/corpus/TARGET): findings stay fixed without libFuzzer.
file(GLOB replay_targets CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/fuzz_*.cpp)
foreach(source ${replay_targets})
  get_filename_component(name ${source} NAME_WE)
  set(corpus ${CMAKE_CURRENT_LIST_DIR}/corpus/${name})
  if(NOT IS_DIRECTORY ${corpus})
    continue()
  endif()
  add_executable(replay_${name} ${source} ${CMAKE_CURRENT_LIST_DIR}/ReplayMain.cpp)
  target_include_directories(replay_${name} PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(replay_${name} PRIVATE velmora_engine)
  add_test(NAME FuzzCorpus.${name} COMMAND replay_${name} ${corpus})
endforeach()

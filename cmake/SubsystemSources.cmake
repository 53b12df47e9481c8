# Adds every .cpp/.h of the calling folder to the engine library, so a new
# class file needs no edit of a shared list.
function(qv_add_subsystem_sources)
  file(GLOB _srcs CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c
    ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(_srcs)
    target_sources(QuorvaneGo PRIVATE ${_srcs})
  endif()
endfunction()

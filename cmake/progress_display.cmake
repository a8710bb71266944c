# What the main thread shows while the install runs (FELTO_PROGRESS_WINDOW): nothing, or the
# progress window (Windows, with the manifest that asks for common controls 6, whose progress
# bar can move without a measure) and the terminal line (elsewhere).
function(felto_use_progress_display target enabled)
  if(enabled)
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/app/idle_with_progress.cpp)
    if(WIN32)
      target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/platform/progress_window_win32.rc)
    endif()
  else()
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/app/idle_plain.cpp)
  endif()
endfunction()

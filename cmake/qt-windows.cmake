# Qt for Windows: Qt 6 cross-built with MinGW-w64 (DLLs), found in a folder
# that is only read. The host tools (moc, rcc, uic) are the build machine's.
set(VORNIC_QT_WINDOWS "${PROJECT_SOURCE_DIR}/../shared/windows/qt6-mingw"
    CACHE PATH "Qt 6 for Windows (MinGW-w64), as ../shared/windows/build-qt6-mingw.sh makes it")
cmake_path(ABSOLUTE_PATH VORNIC_QT_WINDOWS NORMALIZE OUTPUT_VARIABLE VORNIC_QT_WINDOWS_DIR)
if(NOT EXISTS "${VORNIC_QT_WINDOWS_DIR}/lib/cmake/Qt6/Qt6Config.cmake")
  # Indented, so CMake prints it as one line instead of wrapping it.
  message(FATAL_ERROR " Qt for Windows is missing in ${VORNIC_QT_WINDOWS_DIR}: make it with ../shared/windows/build-qt6-mingw.sh ${VORNIC_QT_WINDOWS_DIR} (about 40 minutes), or set VORNIC_QT_WINDOWS")
endif()
# The cross build's find-root mode re-roots every prefix: Qt's folder must be a root too.
list(APPEND CMAKE_FIND_ROOT_PATH "${VORNIC_QT_WINDOWS_DIR}")
list(APPEND CMAKE_PREFIX_PATH "${VORNIC_QT_WINDOWS_DIR}")
set(QT_HOST_PATH /usr CACHE PATH "Where the host's Qt tools (moc, rcc, uic) live")

# What a Qt program needs beside it to start: Qt's DLLs and plugins, and the
# MinGW runtime DLLs that Qt and the program share (one C++ runtime and one
# thread library in the process). The offscreen platform is for the tests.
set(VORNIC_QT_RUNTIME_FILES
  bin/Qt6Core.dll bin/Qt6Gui.dll bin/Qt6Widgets.dll
  plugins/platforms/qwindows.dll plugins/platforms/qoffscreen.dll
  plugins/styles/qwindowsvistastyle.dll)
set(VORNIC_MINGW_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  cmake_path(NORMAL_PATH found)
  if(NOT EXISTS "${found}")
    message(FATAL_ERROR "${dll} of MinGW-w64 not found (${CMAKE_CXX_COMPILER} -print-file-name): run scripts/setup")
  endif()
  list(APPEND VORNIC_MINGW_RUNTIME_DLLS "${found}")
endforeach()

# Makes `target` a program on Qt: linked against the MinGW runtime DLLs
# instead of statically, with Qt's and the runtime's DLLs copied beside it
# (platforms/ and styles/ in their subfolders, where Qt looks for plugins).
function(vornic_qt_program target)
  set_target_properties(${target} PROPERTIES VORNIC_SHARED_RUNTIME ON)
  set(commands)
  foreach(file ${VORNIC_QT_RUNTIME_FILES})
    cmake_path(GET file PARENT_PATH folder)
    cmake_path(GET file FILENAME name)
    set(into "$<TARGET_FILE_DIR:${target}>")
    if(folder MATCHES "^plugins/")
      string(REGEX REPLACE "^plugins/" "" sub "${folder}")
      set(into "${into}/${sub}")
    endif()
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E make_directory "${into}"
                         COMMAND ${CMAKE_COMMAND} -E copy_if_different
                                 "${VORNIC_QT_WINDOWS_DIR}/${file}" "${into}/${name}")
  endforeach()
  foreach(dll ${VORNIC_MINGW_RUNTIME_DLLS})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different
                         "${dll}" "$<TARGET_FILE_DIR:${target}>")
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD ${commands} VERBATIM)
endfunction()

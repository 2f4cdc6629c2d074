# The resources of a Windows program: icon, version information and manifest, from
# app/win32/program.rc.in. DESCRIPTION is the file description that Windows shows (the file's
# properties, the Task Manager); MANIFEST the program's manifest template.
function(qv_add_program_resources target)
  cmake_parse_arguments(ARG "" "DESCRIPTION;MANIFEST" "" ${ARGN})
  set(win32_dir ${PROJECT_SOURCE_DIR}/app/win32)
  string(REPLACE "." ";" parts ${QV_VERSION})
  list(GET parts 0 QV_VERSION_MAJOR)
  list(GET parts 1 QV_VERSION_MINOR)
  list(GET parts 2 QV_VERSION_PATCH)
  set(QV_PROGRAM ${target})
  set(QV_FILE_DESCRIPTION ${ARG_DESCRIPTION})
  set(QV_ICON ${win32_dir}/qvrepair.ico)
  set(QV_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${ARG_MANIFEST} ${QV_MANIFEST} @ONLY)
  configure_file(${win32_dir}/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # The resource compiler reads the icon and the manifest while it builds the program.
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${QV_ICON} ${QV_MANIFEST})
  set_property(SOURCE ${rc} APPEND PROPERTY INCLUDE_DIRECTORIES ${win32_dir})
endfunction()

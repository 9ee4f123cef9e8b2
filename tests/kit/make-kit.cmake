# Makes the test kit: cmake -DKIT=DIR -DFILES=EXE;... -DSOURCE=DIR -DSTRIP=STRIP -P make-kit.cmake
# Puts the executables into a fresh DIR, the shipped ones byte for byte, the others without their
# symbols, then run-tests.cmd and readme.txt, and zips it all into DIR.zip.
file(REMOVE_RECURSE ${KIT})
file(MAKE_DIRECTORY ${KIT})
foreach(file ${FILES})
  get_filename_component(name ${file} NAME)
  file(COPY_FILE ${file} ${KIT}/${name})
  if(NOT name MATCHES "^Uninst(Check)?\\.exe$")
    execute_process(COMMAND ${STRIP} ${KIT}/${name} COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
file(COPY ${SOURCE}/run-tests.cmd ${SOURCE}/readme.txt DESTINATION ${KIT})
file(GLOB names RELATIVE ${KIT} ${KIT}/*)
file(REMOVE ${KIT}.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${KIT}.zip --format=zip -- ${names}
                WORKING_DIRECTORY ${KIT} COMMAND_ERROR_IS_FATAL ANY)

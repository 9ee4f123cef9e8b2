# Makes the test kit: cmake -DKIT=DIR -DFILES=EXE;... -DRUNNER=EXE -DSOURCE=DIR -DSTRIP=STRIP -P make-kit.cmake
# Puts the programs into a fresh DIR, the shipped ones byte for byte, the others without their
# symbols, and lists each with its SHA-256 in programs.txt, which the runner checks them against;
# then the runner, run-tests.cmd and readme.txt. Zips it all into DIR.zip.
file(REMOVE_RECURSE ${KIT})
file(MAKE_DIRECTORY ${KIT})
set(list "")
foreach(file ${FILES})
  get_filename_component(name ${file} NAME)
  file(COPY_FILE ${file} ${KIT}/${name})
  if(NOT name MATCHES "^Uninst(Check)?\\.exe$")
    execute_process(COMMAND ${STRIP} ${KIT}/${name} COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(SHA256 ${KIT}/${name} hash)
  string(APPEND list "${hash}  ${name}\n")
endforeach()
file(WRITE ${KIT}/programs.txt "${list}")
file(COPY ${RUNNER} ${SOURCE}/run-tests.cmd ${SOURCE}/readme.txt DESTINATION ${KIT})
file(GLOB names RELATIVE ${KIT} ${KIT}/*)
file(REMOVE ${KIT}.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${KIT}.zip --format=zip -- ${names}
                WORKING_DIRECTORY ${KIT} COMMAND_ERROR_IS_FATAL ANY)

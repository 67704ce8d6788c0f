# Installs the build into a fresh prefix and checks what a desktop needs to list the editor
# and open .mvd files with it. Run by CTest with BUILD and PREFIX set.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

foreach(path bin/veldmark share/icons/hicolor/64x64/apps/veldmark.png
             share/icons/hicolor/scalable/apps/veldmark.svg
             share/icons/hicolor/64x64/mimetypes/application-x-veldmark-mvd.png
             share/applications/veldmark.desktop share/mime/packages/veldmark-mvd.xml)
    if(NOT EXISTS ${PREFIX}/${path})
        message(FATAL_ERROR "not installed: ${path}")
    endif()
endforeach()

file(READ ${PREFIX}/share/applications/veldmark.desktop desktop)
foreach(line "Exec=veldmark %f" "Icon=veldmark" "MimeType=application/x-veldmark-mvd;")
    string(FIND "${desktop}" "${line}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the desktop entry lacks ${line}")
    endif()
endforeach()

# Where the MIME tools are installed, the database under the prefix must know the type.
find_program(UPDATE_MIME_DATABASE update-mime-database)
if(UPDATE_MIME_DATABASE AND NOT EXISTS ${PREFIX}/share/mime/application/x-veldmark-mvd.xml)
    message(FATAL_ERROR "the MIME database under the prefix does not know .mvd files")
endif()
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
    execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${PREFIX}/share/applications/veldmark.desktop
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "desktop-file-validate refuses the desktop entry")
    endif()
endif()
file(REMOVE_RECURSE ${PREFIX})

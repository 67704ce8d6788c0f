# The system's stb_image 2.27 trusts corrupt JPEG Huffman data in two places: building a table
# from code-length counts that do not fit its 256 symbols writes past the table, and a code
# that maps outside the table reads past it. The copy in the build folder adds the checks
# that later versions have; a header that no longer has the unchecked lines is used as it is.
set(STB_IMAGE_SYSTEM_HEADER /usr/include/stb/stb_image.h)
set(STB_IMAGE_DIR ${CMAKE_BINARY_DIR}/stb)
file(READ ${STB_IMAGE_SYSTEM_HEADER} stb_text)

function(stb_add_check unchecked checked)
    string(FIND "${stb_text}" "${unchecked}" at)
    if(at GREATER -1)
        string(REPLACE "${unchecked}" "${checked}" patched "${stb_text}")
        set(stb_text "${patched}" PARENT_SCOPE)
    endif()
endfunction()

stb_add_check(
    "      for (j=0; j < count[i]; ++j)\n         h->size[k++] = (stbi_uc) (i+1);\n"
    "      for (j=0; j < count[i]; ++j) {\n         h->size[k++] = (stbi_uc) (i+1);\n         if (k >= 257) return stbi__err(\"bad size list\",\"Corrupt JPEG\");\n      }\n")
stb_add_check(
    "   c = ((j->code_buffer >> (32 - k)) & stbi__bmask[k]) + h->delta[k];\n   STBI_ASSERT("
    "   c = ((j->code_buffer >> (32 - k)) & stbi__bmask[k]) + h->delta[k];\n   if (c < 0 || c >= 256) return -1;\n   STBI_ASSERT(")

file(WRITE ${STB_IMAGE_DIR}/stb_image.h.new "${stb_text}")
configure_file(${STB_IMAGE_DIR}/stb_image.h.new ${STB_IMAGE_DIR}/stb_image.h COPYONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${STB_IMAGE_SYSTEM_HEADER})

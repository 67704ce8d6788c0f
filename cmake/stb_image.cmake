# The system's stb_image 2.27 builds a JPEG Huffman table without checking that the code-length
# counts fit its 256 symbols, and a corrupt file makes it write past the table. The copy in
# the build folder adds the check that later versions have; a header without the unchecked
# loop is used as it is.
set(STB_IMAGE_SYSTEM_HEADER /usr/include/stb/stb_image.h)
set(STB_IMAGE_DIR ${CMAKE_BINARY_DIR}/stb)
file(READ ${STB_IMAGE_SYSTEM_HEADER} stb_text)
set(stb_unchecked "      for (j=0; j < count[i]; ++j)\n         h->size[k++] = (stbi_uc) (i+1);\n")
set(stb_checked "      for (j=0; j < count[i]; ++j) {\n         h->size[k++] = (stbi_uc) (i+1);\n         if (k >= 257) return stbi__err(\"bad size list\",\"Corrupt JPEG\");\n      }\n")
string(FIND "${stb_text}" "${stb_unchecked}" stb_at)
if(stb_at GREATER -1)
    string(REPLACE "${stb_unchecked}" "${stb_checked}" stb_text "${stb_text}")
endif()
file(WRITE ${STB_IMAGE_DIR}/stb_image.h.new "${stb_text}")
configure_file(${STB_IMAGE_DIR}/stb_image.h.new ${STB_IMAGE_DIR}/stb_image.h COPYONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${STB_IMAGE_SYSTEM_HEADER})

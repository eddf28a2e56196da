# zelmar.exe's icon, from the pixel grid in zelmar-icon.txt: sets ZELMAR_ICON_RESOURCES to the
# resource script's lines for the image (RT_ICON: a 32-bit bitmap, bottom row first, then its
# transparency mask) and for the icon that holds it (RT_GROUP_ICON), as raw data, so that the
# resource compiler needs no .ico file and the build no image tool.
set(icon_source ${CMAKE_CURRENT_LIST_DIR}/zelmar-icon.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${icon_source})
file(STRINGS ${icon_source} icon_lines REGEX "^[^#]")
set(icon_rows "")
foreach(line IN LISTS icon_lines)
    if(line MATCHES "^(.) ([0-9a-f]+)$")
        set("icon_colour_${CMAKE_MATCH_1}" ${CMAKE_MATCH_2})
    elseif(line MATCHES "^[^ ]+$")
        list(PREPEND icon_rows "${line}")  # a bitmap is stored from its bottom row up
    endif()
endforeach()
list(LENGTH icon_rows icon_size)
set(icon_pixels "")
set(icon_mask "")
foreach(row IN LISTS icon_rows)
    string(LENGTH "${row}" width)
    if(NOT icon_size EQUAL 32 OR NOT width EQUAL 32)
        message(FATAL_ERROR "${icon_source}: the icon is not 32 rows of 32 pixels")
    endif()
    set(line "   ")
    set(mask 0)
    foreach(x RANGE 31)
        string(SUBSTRING "${row}" ${x} 1 pixel)
        if(NOT DEFINED "icon_colour_${pixel}")
            message(FATAL_ERROR "${icon_source}: no colour for the pixel \"${pixel}\"")
        endif()
        string(APPEND line " 0x${icon_colour_${pixel}}L,")  # B, G, R, A in memory
        if(pixel STREQUAL ".")
            # The mask's first pixel is the top bit of its first byte, and the byte comes first in memory.
            math(EXPR mask "${mask} | (1 << (${x} / 8 * 8 + 7 - ${x} % 8))")
        endif()
        if(x EQUAL 7 OR x EQUAL 15 OR x EQUAL 23 OR x EQUAL 31)
            string(APPEND icon_pixels "${line}\n")
            set(line "   ")
        endif()
    endforeach()
    math(EXPR mask "${mask}" OUTPUT_FORMAT HEXADECIMAL)
    string(APPEND icon_mask " ${mask}L,")
endforeach()
string(REGEX REPLACE ",$" "" icon_mask "${icon_mask}")
# The bitmap's header: 40 bytes; 32 wide, twice 32 high (image and mask); 1 plane of 32 bits,
# uncompressed; 4096 bytes of image and 128 of mask. The group: one icon, 32 by 32, 4264 bytes, id 1.
set(ZELMAR_ICON_RESOURCES "// zelmar.exe's icon, made from packaging/zelmar-icon.txt.
1 3
BEGIN
    40L, 32L, 64L, 1, 32, 0L, 4224L, 0L, 0L, 0L, 0L,
${icon_pixels}   ${icon_mask}
END

1 14
BEGIN
    0, 1, 1, 0x2020, 0, 1, 32, 4264L, 1
END
")

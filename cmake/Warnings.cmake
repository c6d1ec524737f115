# Warnings and sanitizers applied to every target of this project (not to imported ones).
add_library(tallowby_warnings INTERFACE)
target_compile_options(tallowby_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wold-style-cast -Wnon-virtual-dtor
    $<$<BOOL:${TALLOWBY_WERROR}>:-Werror>)
target_compile_definitions(tallowby_warnings INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_KEYWORDS)

if(TALLOWBY_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

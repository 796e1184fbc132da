# Settings every target of the project shares: language level, warnings and the cast guards
# that keep Windows-1252 byte texts and QStrings from meeting by accident.
add_library(kadmel_common INTERFACE)
target_compile_features(kadmel_common INTERFACE cxx_std_20)
target_compile_definitions(kadmel_common INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_KEYWORDS)
target_compile_options(kadmel_common INTERFACE
    -Wall -Wextra -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
if(KADMEL_SANITIZE)
    target_compile_options(kadmel_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(kadmel_common INTERFACE -fsanitize=address,undefined)
    target_compile_definitions(kadmel_common INTERFACE _GLIBCXX_ASSERTIONS)
endif()
if(KADMEL_FUZZ)
    target_compile_options(kadmel_common INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    target_link_options(kadmel_common INTERFACE -fsanitize=address,undefined)
endif()

# Build settings every target of the project shares.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
# No link-time optimisation: the payload block must stay a plain data object.
set(CMAKE_INTERPROCEDURAL_OPTIMIZATION OFF)

option(FLASH_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

# flash_settings(target): warnings (as errors) and, natively, sanitizers.
function(flash_settings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    if(FLASH_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                                                 -fno-sanitize-recover=all -fno-omit-frame-pointer)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
endfunction()

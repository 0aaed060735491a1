# Per-target defaults: warnings, and the sanitizer chosen for the whole build.
# Applied target by target so that nothing leaks into projects that consume the installed library.

function(luxora_target_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(LUXORA_SANITIZER STREQUAL "address")
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    elseif(LUXORA_SANITIZER STREQUAL "thread")
        # Asio uses atomic_thread_fence, which GCC warns that ThreadSanitizer does not model; the fences
        # sit beside mutexes that it does model.
        target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer
            $<$<CXX_COMPILER_ID:GNU>:-Wno-tsan>)
        target_link_options(${target} PRIVATE -fsanitize=thread)
    elseif(LUXORA_SANITIZER STREQUAL "fuzzer")
        # Coverage for libFuzzer in every target; the fuzzers themselves also link its driver.
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
            -fno-sanitize-recover=undefined)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    elseif(NOT LUXORA_SANITIZER STREQUAL "")
        message(FATAL_ERROR "LUXORA_SANITIZER must be empty, address, thread or fuzzer")
    endif()
endfunction()

# Installs a program into the prefix's bin, with a run path relative to its own folder that finds the
# installed library, so that PREFIX/bin/program runs from an installed tree with nothing else set.
function(luxora_install_program target)
    include(GNUInstallDirs)
    file(RELATIVE_PATH libdir_from_bindir "/${CMAKE_INSTALL_BINDIR}" "/${CMAKE_INSTALL_LIBDIR}")
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${libdir_from_bindir}")
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

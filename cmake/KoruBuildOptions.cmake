# Build-wide switches: assertions in optimised builds and the sanitizer variants scripts/sanitize
# builds. Included before any target exists, so every library, test and the shared precompiled
# header see the same flags.

# The suite runs the optimised build; an assertion that never fires there proves nothing. Dropping
# NDEBUG costs a few compares and leaves optimisation as it is.
option(KORU_KEEP_ASSERTIONS "Keep assert() and Q_ASSERT in Release and RelWithDebInfo builds" ON)

set(KORU_SANITIZE "" CACHE STRING
    "Sanitizers to build with: empty, address,undefined (or either alone) or thread")
set_property(CACHE KORU_SANITIZE PROPERTY STRINGS "" "address,undefined" "address" "undefined" "thread")

if(KORU_KEEP_ASSERTIONS)
    foreach(config RELEASE RELWITHDEBINFO MINSIZEREL)
        foreach(lang C CXX)
            string(REGEX REPLACE "(^| )[-/]DNDEBUG( |$)" " " flags "${CMAKE_${lang}_FLAGS_${config}}")
            string(STRIP "${flags}" flags)
            set(CMAKE_${lang}_FLAGS_${config} "${flags}")
        endforeach()
    endforeach()
    # Qt's package defines QT_NO_DEBUG outside Debug builds, which turns Q_ASSERT off on its own.
    add_compile_definitions(QT_FORCE_ASSERTS)
endif()

if(KORU_SANITIZE)
    string(REPLACE "," ";" wanted "${KORU_SANITIZE}")
    foreach(name IN LISTS wanted)
        if(NOT name MATCHES "^(address|undefined|thread)$")
            message(FATAL_ERROR "KORU_SANITIZE: unknown sanitizer '${name}'")
        endif()
    endforeach()
    if("thread" IN_LIST wanted AND ("address" IN_LIST wanted))
        message(FATAL_ERROR "KORU_SANITIZE: thread cannot be combined with address")
    endif()
    set(KORU_SANITIZE_FLAGS -fsanitize=${KORU_SANITIZE} -fno-omit-frame-pointer -g -O1)
    if("undefined" IN_LIST wanted)
        # A report must fail the test that caused it, not scroll past.
        list(APPEND KORU_SANITIZE_FLAGS -fno-sanitize-recover=undefined)
    endif()
    # Compile options come after the build type's flags, so -O1 wins over its -O2/-O3: fast enough
    # to run the suite, readable stacks.
    add_compile_options(${KORU_SANITIZE_FLAGS})
    # GCC's flow-based warnings misfire on instrumented code at -O1 (optionals and string chains
    # read as uninitialised or out of bounds); the Release build keeps them as errors.
    add_compile_options(-Wno-maybe-uninitialized -Wno-array-bounds)
    add_link_options(-fsanitize=${KORU_SANITIZE})
    # Bounds-checked standard containers find the out-of-range index that stays inside capacity,
    # which the address checker cannot see.
    add_compile_definitions(_GLIBCXX_ASSERTIONS)
endif()

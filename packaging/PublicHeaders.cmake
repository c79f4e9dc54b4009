# The component's public face: the headers a program includes, and every header they include in
# turn. Only these are installed and documented; the rest (the device layer's backends, the event
# thread, the hidden message window, the threading internals) is the libraries' own business.
set(PUBLIC_HEADER_ENTRIES
    comport/ComPort.h                          # the port
    comport/SerialPorts.h                      # the adapters present, and their arrivals
    comport/PortNames.h                        # the device a port name opens
    comport/settings/SettingsFiles.h           # a port's settings kept in a file or the registry
    comport/settings/IniFileStore.h
    comport/settings/PlatformRegistryStore.h
    comport/settings/SettingsText.h            # settings as text, for a program's own dialogs
    framework/MainThread.h                     # serving the main thread's queue (line events)
    framework/Win32MessageLoop.h               # ... from a Win32 message loop (Windows only)
    framework/ErrorDisplay.h)                  # where failures no caller handles are shown

# public_headers(<out-var>): the entries and the closure of their quoted includes, relative to
# the source tree and sorted. A quoted include that names no file of the tree stops the
# configuration, so a header can never be installed without what it needs.
function(public_headers out)
    set(_todo ${PUBLIC_HEADER_ENTRIES})
    set(_seen)
    while(_todo)
        list(POP_FRONT _todo _h)
        if(_h IN_LIST _seen)
            continue()
        endif()
        if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${_h})
            message(FATAL_ERROR "public header ${_h} is not in the tree")
        endif()
        list(APPEND _seen ${_h})
        file(STRINGS ${PROJECT_SOURCE_DIR}/${_h} _lines REGEX "^#include \"")
        foreach(_line ${_lines})
            string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" _inc "${_line}")
            list(APPEND _todo ${_inc})
        endforeach()
    endwhile()
    # The other platform's branch of a header that picks one (PlatformRegistryStore.h).
    platform_sources(_seen)
    if(WIN32)
        list(FILTER _seen EXCLUDE REGEX "/SqliteRegistryStore\\.h$")
    endif()
    list(SORT _seen)
    set(${out} ${_seen} PARENT_SCOPE)
endfunction()

# The export list comes from the public header alone: every declaration of the
# form "DOORLINK_API <type> DOORLINK_CALL Name(" names one export.
function(doorlink_read_exports header out_var)
    file(READ "${header}" text)
    string(REGEX MATCHALL "DOORLINK_CALL[ \t\r\n]+[A-Za-z_][A-Za-z0-9_]*[ \t\r\n]*\\(" matches "${text}")
    set(names "")
    foreach(m IN LISTS matches)
        string(REGEX REPLACE "DOORLINK_CALL[ \t\r\n]+([A-Za-z_][A-Za-z0-9_]*).*" "\\1" name "${m}")
        list(APPEND names "${name}")
    endforeach()
    list(SORT names)
    set(${out_var} "${names}" PARENT_SCOPE)
endfunction()

function(doorlink_write_version_script header out_file)
    doorlink_read_exports("${header}" names)
    set(body "{\n  global:\n")
    foreach(n IN LISTS names)
        string(APPEND body "    ${n};\n")
    endforeach()
    string(APPEND body "  local: *;\n};\n")
    file(CONFIGURE OUTPUT "${out_file}" CONTENT "${body}" @ONLY)
endfunction()

# The bytes a __stdcall function of this parameter list pops on 32-bit
# Windows: 8 for each 64-bit parameter, 4 for every other one. A wrong count
# cannot go unnoticed: the link then fails with "cannot export Name@N".
function(doorlink_stdcall_bytes parameters out_var)
    string(REGEX REPLACE "[ \t\r\n]+" " " parameters "${parameters}")
    string(STRIP "${parameters}" parameters)
    set(bytes 0)
    if(NOT parameters STREQUAL "" AND NOT parameters STREQUAL "void")
        string(REPLACE "," ";" list "${parameters}")
        foreach(p IN LISTS list)
            if(p MATCHES "\\*")
                math(EXPR bytes "${bytes} + 4")
            elseif(p MATCHES "(u?int64_t|double|long long|__int64)")
                math(EXPR bytes "${bytes} + 8")
            else()
                math(EXPR bytes "${bytes} + 4")
            endif()
        endforeach()
    endif()
    set(${out_var} ${bytes} PARENT_SCOPE)
endfunction()

# The module definition file of the Windows DLL: every export of the header
# under its __stdcall name, Name@N. Linked with --kill-at the DLL exports the
# plain names; the import library made from the same file with dlltool -k
# keeps the decorated symbols a caller of the header refers to. 64-bit
# Windows has one calling convention and decorates nothing: there
# (pointer_size 8) every line is the plain name.
function(doorlink_write_def_file header dll_name pointer_size out_file)
    file(READ "${header}" text)
    string(REGEX MATCHALL "DOORLINK_CALL[ \t\r\n]+[A-Za-z_][A-Za-z0-9_]*[ \t\r\n]*\\([^)]*\\)"
           matches "${text}")
    set(entries "")
    foreach(m IN LISTS matches)
        string(REGEX REPLACE "DOORLINK_CALL[ \t\r\n]+([A-Za-z_][A-Za-z0-9_]*).*" "\\1" name "${m}")
        string(REGEX REPLACE "^[^(]*\\(([^)]*)\\)$" "\\1" parameters "${m}")
        if(pointer_size EQUAL 4)
            doorlink_stdcall_bytes("${parameters}" bytes)
            list(APPEND entries "${name}@${bytes}")
        else()
            list(APPEND entries "${name}")
        endif()
    endforeach()
    list(SORT entries)
    set(body "LIBRARY ${dll_name}\nEXPORTS\n")
    foreach(e IN LISTS entries)
        string(APPEND body "    ${e}\n")
    endforeach()
    file(CONFIGURE OUTPUT "${out_file}" CONTENT "${body}" @ONLY)
endfunction()

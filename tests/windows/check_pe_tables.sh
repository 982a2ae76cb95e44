#!/bin/bash
# Reads the import and export tables of a Windows build and fails on any
# difference from what the users' host library provides: the program imports
# exactly the nine functions from BASSASIO.dll by their plain names, the
# stand-in exports exactly those, and neither needs a compiler runtime DLL.
#   check_pe_tables.sh OBJDUMP BUILD_FOLDER
set -uo pipefail
objdump=$1
folder=$2
expected="BASS_ASIO_ChannelEnable
BASS_ASIO_ChannelGetFormat
BASS_ASIO_ChannelGetInfo
BASS_ASIO_ControlPanel
BASS_ASIO_Free
BASS_ASIO_GetDeviceInfo
BASS_ASIO_Init
BASS_ASIO_Start
BASS_ASIO_Stop"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

for file in asioloop.exe BASSASIO.dll; do
    [ -f "$folder/$file" ] || { fail "$folder/$file is missing"; continue; }
    tables=$("$objdump" -p "$folder/$file") || { fail "$objdump cannot read $file"; continue; }
    # Only system DLLs, and the program also BASSASIO.dll.
    while read -r dll; do
        case ${dll,,} in
        kernel32.dll | msvcrt.dll) ;;
        bassasio.dll) [ "$file" = asioloop.exe ] || fail "$file imports $dll" ;;
        *) fail "$file depends on $dll" ;;
        esac
    done < <(sed -n 's/^\s*DLL Name: //p' <<<"$tables")

    if [ "$file" = asioloop.exe ]; then
        grep -q 'Subsystem.*(Windows CUI)' <<<"$tables" || fail "$file is not a console program"
        imports=$(sed -n '/DLL Name: BASSASIO.dll/,/^$/p' <<<"$tables" |
            awk 'NR > 2 && NF >= 3 { print $3 }' | sort -u)
        [ "$imports" = "$expected" ] || fail "$file imports from BASSASIO.dll:"$'\n'"$imports"
    else
        exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$tables" |
            awk '/^[[:space:]]*\[ *[0-9]+\]/ && NF >= 3 { print $3 }' | sort)
        [ "$exports" = "$expected" ] || fail "$file exports:"$'\n'"$exports"
    fi
done

if [ "$failures" -gt 0 ]; then
    echo "$failures problem(s) in $folder"
    exit 1
fi
echo "$folder: asioloop.exe imports the nine functions by plain name; BASSASIO.dll exports exactly them"

#!/usr/bin/env bash
# Completes command lines as bash does and checks what is offered.
# Usage: bash_completion_test.sh COMPLETION_SCRIPT
set -u
# shellcheck source=/dev/null
source "$1"

failed=0
passed=0

# The offers for a command line whose last word is being typed.
offers() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _nc_service
    printf '%s\n' "${COMPREPLY[@]}"
}

check() {
    local want=$1
    shift
    local got
    got=$(offers "$@" | paste -sd ' ')
    if [[ $got == "$want" ]]; then
        passed=$((passed + 1))
    else
        echo "FAIL: '$*' offers '$got', expected '$want'"
        failed=$((failed + 1))
    fi
}

check "-a -b -h -l -p -q -s -v -w" nc-service -
check "4800 38400" nc-service -p /dev/ttyUSB0 -b ""
check "nmea0183 nmea2000" nc-service -v -w 30 nmea
check "nmea0183 nmea2000" nc-service -a -p /dev/ttyUSB0 -b 38400 -s 12345 -l log nmea
check "sentences baudrate" nc-service -p x nmea0183 ""
check "term open" nc-service nmea2000 bus ""
check "sbas" nc-service gnss receiver gps s
check "default" nc-service factory d
check "-b -f" nc-service upload -
check "save compare load" nc-service settings ""
check "-f" nc-service settings load -
check "4800 38400" nc-service upload -b ""
check "" nc-service nmea0183 sentences HDT:100 ""

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
touch "$folder/my image.bin"
mkdir "$folder/reports"
check "$folder/my image.bin" nc-service -p x upload -f "$folder/my"
check "$folder/reports" nc-service diag "$folder/"
check "$folder/my image.bin" nc-service stat -l "$folder/my"
check "$folder/my image.bin" nc-service settings load -f "$folder/my"

# Ports: only serial devices, stable names first.
while IFS= read -r port; do
    if [[ -n $port && ! $port =~ ^/dev/(serial/by-id/|ttyUSB|ttyACM|ttyS) ]]; then
        echo "FAIL: -p offers $port"
        failed=$((failed + 1))
    fi
done < <(offers nc-service -p "")

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]

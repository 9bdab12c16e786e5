# bash completion for nc-service: options, serial ports, and the command given
# on the command line with its keywords.

_nc_service_commands="about attitude autolevel deviation diag event factory gnss heading help mon nav nmea0183 nmea2000 pitch post quit reboot roll settings stat status upload variation ver vertical"

# Stable names first: /dev/serial/by-id tells adapters apart across replugging.
_nc_service_ports() {
    local port ports=()
    for port in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS*; do
        [[ -e $port ]] && ports+=("$port")
    done
    COMPREPLY=($(compgen -W "${ports[*]}" -- "$1"))
}

# File names may hold blanks: one per line, and bash quotes them.
_nc_service_files() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen "$1" -- "$2")
}

# Keywords of a command, by the words already given after it.
_nc_service_keywords() {
    local cur=$1 command=$2 count=$3 previous=$4
    local keywords=""
    case "$command $count" in
    "attitude 1") keywords="filter" ;;
    "autolevel 1") keywords="run reset" ;;
    "deviation 1") keywords="calibration options" ;;
    "factory 1") keywords="default" ;;
    "gnss 1") keywords="receiver" ;;
    "heading 1" | "pitch 1" | "roll 1" | "vertical 1") keywords="offset" ;;
    "help 1") keywords=$_nc_service_commands ;;
    "nmea0183 1") keywords="sentences baudrate" ;;
    "nmea2000 1") keywords="bus" ;;
    "settings 1") keywords="save compare load" ;;
    "settings "[23])
        if [[ $cur == -* && $previous != save && $previous != -f ]]; then
            keywords="-f"
        else
            _nc_service_files -f "$cur"
            return
        fi ;;
    "stat 1") keywords="-l" ;;
    "variation 1") keywords="source" ;;
    "diag 1")
        _nc_service_files -d "$cur"
        return ;;
    "upload "*)
        if [[ $previous == -b ]]; then
            keywords="4800 38400"
        elif [[ $cur == -* ]]; then
            keywords="-b -f"
        else
            _nc_service_files -f "$cur"
            return
        fi ;;
    "stat 2")
        [[ $previous == -l ]] && _nc_service_files -f "$cur"
        return ;;
    *)
        case "$command $previous" in
        "deviation calibration") keywords="standard adaptive on off reset" ;;
        "deviation options" | "deviation 5deg" | "deviation pause") keywords="5deg pause none" ;;
        "gnss receiver" | "gnss gps" | "gnss sbas" | "gnss glonass" | "gnss beidou" | "gnss qzss")
            keywords="gps sbas glonass beidou qzss" ;;
        "nmea0183 baudrate") keywords="4800 38400" ;;
        "nmea0183 sentences") keywords="default" ;;
        "nmea2000 bus") keywords="term open" ;;
        "variation source") keywords="auto off user" ;;
        esac ;;
    esac
    COMPREPLY=($(compgen -W "$keywords" -- "$cur"))
}

_nc_service() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local previous=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    # The command is the first word that is neither an option nor its argument.
    local i=1 command_at=0
    while ((i < COMP_CWORD)); do
        case "${COMP_WORDS[i]}" in
        -b | -l | -p | -s | -w) ((i += 2)) ;;
        -*) ((i += 1)) ;;
        *) command_at=$i; break ;;
        esac
    done
    if ((command_at > 0)); then
        _nc_service_keywords "$cur" "${COMP_WORDS[command_at]}" $((COMP_CWORD - command_at)) "$previous"
        return
    fi
    case "$previous" in
    -p) _nc_service_ports "$cur"; return ;;
    -b) COMPREPLY=($(compgen -W "4800 38400" -- "$cur")); return ;;
    -l) _nc_service_files -f "$cur"; return ;;
    -s) return ;;
    -w) COMPREPLY=($(compgen -W "10 30 60 300" -- "$cur")); return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-a -b -h -l -p -q -s -v -w" -- "$cur"))
    else
        COMPREPLY=($(compgen -W "$_nc_service_commands" -- "$cur"))
    fi
}

complete -F _nc_service nc-service

#!/bin/sh
# The guest's side of the real-driver rig, run as /init: nc-service against a
# simulated NC-4100 behind the 16550 on ttyS1 (38400 baud) and a simulated
# NC-350 behind the FTDI adapter on ttyUSB0 (4800 baud). Lines starting with
# "@rig " on the console are for the host: results, and requests for what only
# the host can do (pull the adapter, send the simulator a control line).

mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /tmp/home
mount -t devpts devpts /dev/pts
export HOME=/tmp/home PATH=/bin TERM=vt100 LANG=C
cd /tmp

for module in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio; do
  insmod "/lib/modules/$module.ko" || echo "@rig | insmod $module failed"
done

case_failed=0

note() { echo "@rig | $*"; }
host() { echo "@rig host $*"; }

# Checks within a case; each notes what it missed, and the case fails if any did.
missed() { # file, what was missed: noted with the end of the file
  note "$1 $2"
  tr -d '\033' <"$1" | tail -n 15 | sed 's/^/@rig |   /'
  case_failed=1
}
has() {
  grep -qF -- "$2" "$1" || missed "$1" "lacks: $2"
}
lacks() {
  grep -qF -- "$2" "$1" || return 0
  note "$1 has: $2"
  case_failed=1
}
matches() {
  grep -qE -- "$2" "$1" || missed "$1" "has no line like: $2"
}
same() { # what, before, after
  [ "$2" = "$3" ] && return 0
  note "$1 changed: $2 -> $3"
  case_failed=1
}
expect() { # what must hold, as a command
  "$@" && return 0
  note "failed: $*"
  case_failed=1
}
uptime() { cut -d ' ' -f 1 /proc/uptime; }
begin() {
  case_name=$1
  case_failed=0
  case_start=$(uptime)
}
end() {
  seconds=$(echo "$(uptime) $case_start" | awk '{printf "%.1f", $1 - $2}')
  if [ "$case_failed" = 0 ]; then
    echo "@rig ok $case_name ($seconds s)"
  else
    echo "@rig FAIL $case_name ($seconds s)"
  fi
}

# What the tool wrote, for a reader of the console log, without the
# terminal's control sequences.
esc=$(printf '\033')
bel=$(printf '\007')
transcript() {
  echo "@log ---- $1"
  sed -e "s/$esc\[[0-9;?]*[A-Za-z]//g" -e "s/$esc\][^$bel]*$bel//g" -e 's/\r$//' "$1" |
    sed 's/^/@log /'
}

# The number after a label where the screen last showed it.
last_count() { # file label
  sed -n "s/.*$2 *\([0-9][0-9]*\).*/\1/p" "$1" | tail -n 1
}

# The end of a session whose device did not come back: the specified words
# and exit status, the terminal as it was.
ended_as_specified() {
  has "$1" "No devices found"
  has "$1" "@tty restored"
  has "$1" "exit 0"
}

state() { nc-rig-probe port "/dev/$1"; }
usb_port() { ls /sys/bus/usb-serial/devices 2>/dev/null | head -n 1; }

# Polls a file for a text: a test script may; the tool never does.
wait_for() { # file text seconds
  tries=$(($3 * 5))
  while [ $tries -gt 0 ]; do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.2
    tries=$((tries - 1))
  done
  note "waited $3 s for \"$2\" in $1"
  return 1
}
wait_count() { # file text count seconds
  tries=$(($4 * 5))
  while [ "$(grep -cF -- "$2" "$1" 2>/dev/null)" -lt "$3" ]; do
    [ $tries -gt 0 ] || { missed "$1" "has \"$2\" fewer than $3 times after $4 s"; return 1; }
    sleep 0.2
    tries=$((tries - 1))
  done
}
wait_gone() { # pid seconds
  tries=$(($2 * 5))
  while kill -0 "$1" 2>/dev/null; do
    [ $tries -gt 0 ] || { note "pid $1 still runs after $2 s"; kill -KILL "$1"; return 1; }
    sleep 0.2
    tries=$((tries - 1))
  done
}

# A run of the tool with its standard input from a pipe, killed if it hangs.
tool() { # output file, input text, arguments
  out=$1 input=$2
  shift 2
  printf "$input" | timeout -s KILL 90 nc-service "$@" >"$out" 2>&1
  echo "exit $?" >>"$out"
}

# The tool on a terminal of its own, fed line by line from descriptor 3.
start_tool() { # name, arguments
  session=/tmp/$1
  shift
  rm -f "$session.in"
  mkfifo "$session.in"
  nc-rig-probe tty nc-service "$@" <"$session.in" >"$session.out" 2>&1 &
  session_pid=$!
  exec 3>"$session.in"
}
type_line() { printf '%s\r' "$1" >&3; }
end_tool() { # seconds to wait for its end
  exec 3>&-
  wait_gone "$session_pid" "$1" || case_failed=1
  wait "$session_pid"
  echo "exit $?" >>"$session.out"
}

# The adapter pulled for a few seconds and put back: waits until the kernel
# has seen it go and come back.
pull_adapter() { # seconds away
  gone=$(usb_port)
  host pull "$1"
  tries=50
  while [ -n "$(usb_port)" ] && [ $tries -gt 0 ]; do sleep 0.1; tries=$((tries - 1)); done
  [ -z "$(usb_port)" ] || note "the adapter $gone did not go"
}
wait_adapter() {
  tries=150
  while [ -z "$(usb_port)" ] && [ $tries -gt 0 ]; do sleep 0.1; tries=$((tries - 1)); done
  [ -n "$(usb_port)" ] || { note "the adapter did not come back"; return 1; }
  sleep 0.5 # the driver has set up the port when udev would see it
}

while [ -z "$(usb_port)" ]; do sleep 0.2; done
usb=$(usb_port)
nc-mkimage --model NC-4100 --sw-version 1.07 -o /tmp/nc4100.nci >/dev/null
nc-mkimage --model NC-350 --sw-version 1.08 -o /tmp/nc350.nci >/dev/null
nc-mkimage --model NC-350 --sw-version 1.09 -o /tmp/nc350-2.nci >/dev/null

console0=$(state ttyS0)
s1_found=$(state ttyS1)
usb_found=$(state "$usb")

# ---------------------------------------------------------------- the scan

begin "scan: only fitted ports are probed, the adapter is named"
tool scan-filtered.out '' -v -s 1
has scan-filtered.out "$usb: QEMU QEMU USB SERIAL, serial "
has scan-filtered.out "Device with no matching serial number: 41000001"
has scan-filtered.out "Device with no matching serial number: 35000001"
expect [ "$(sed -n '/^Port  *Info/,/^$/p' scan-filtered.out | awk 'NF {print $1}' | tr '\n' ' ')" = "Port ttyS0 ttyS1 $usb " ]
lacks scan-filtered.out ttyS2
lacks scan-filtered.out ttyS3
has scan-filtered.out "No devices found"
end

begin "scan: both devices found at their rates, ports left as found"
tool scan.out '2\nquit\n'
matches scan.out "^1 +NC-4100 +.* 41000001 +1\.05 +ttyS1 +38400\$"
matches scan.out "^2 +NC-350 +.* 35000001 +1\.05 +$usb +4800\$"
has scan.out "Connected to NC-350 (serial:35000001) at $usb"
has scan.out "exit 0"
same "ttyS0 (console)" "$console0" "$(state ttyS0)"
same ttyS1 "$s1_found" "$(state ttyS1)"
same "$usb" "$usb_found" "$(state "$usb")"
end

# ------------------------------------------------- each driver on its own
# The two ports' cases run side by side: they share nothing but the guest.

port_cases() { # port, model, serial, rate, image, its version
  port=$1 model=$2 serial=$3 rate=$4 image=$5 version=$6
  found=$(state "$port")

  begin "$port: identified actively, and passively with -b outside the table"
  tool "ident-a-$port.out" 'quit\n' -a -p "$port"
  matches "ident-a-$port.out" "$serial +1\.05 +$port +$rate\$"
  has "ident-a-$port.out" "Connected to $model (serial:$serial) at $port"
  tool "ident-b-$port.out" 'quit\n' -p "$port" -b 9600
  if [ "$rate" = 38400 ]; then
    matches "ident-b-$port.out" "$serial +1\.05 +$port +38400\$"
  else # the fallback is 38400, where this device is not
    has "ident-b-$port.out" "No devices found"
  fi
  same "$port" "$found" "$(state "$port")"
  end

  begin "$port: status, a setting read back, stat without line errors"
  tool "status-$port.out" '' -p "$port" status
  has "status-$port.out" "System status         OK"
  has "status-$port.out" "Attitude filter       Info    enabled"
  lacks "status-$port.out" "Error"
  tool "roll-$port.out" 'roll offset 1.5\nroll offset\nquit\n' -p "$port"
  has "roll-$port.out" "Static roll offset set to: 1.50 degrees"
  has "roll-$port.out" "Roll offset: 1.50 degrees"
  # A few seconds of the stream counted, then ESC.
  start_tool "stat-$port" -p "$port"
  wait_for "$session.out" "nc> " 30
  type_line stat
  wait_for "$session.out" "Frame err" 30
  sleep 4
  printf '\033' >&3
  type_line quit
  end_tool 30
  expect [ "$(last_count "$session.out" "Frame err   :")" = 0 ]
  expect [ "$(last_count "$session.out" "Checksum err:")" = 0 ]
  matches "$session.out" "(GPGGA|HEHDT|HEROT) +[0-9]"
  end

  begin "$port: upload at 115200, the device runs it, the port left as found"
  tool "upload-$port.out" '' -p "$port" upload -b 115200 "$image"
  has "upload-$port.out" "Device successfully updated to $version Release"
  tool "ver-$port.out" '' -p "$port" ver
  has "ver-$port.out" "Software version: $version Release"
  same "$port" "$found" "$(state "$port")"
  end

  # Low latency while the tool holds the port: the 8250 keeps the flag, the
  # FTDI driver turns it into a latency timer of 1 ms.
  begin "$port held: low latency, a second tool denied, SIGTERM puts the port back"
  start_tool "held-$port" -p "$port"
  wait_for "$session.out" "nc> " 30
  held=$(state "$port")
  case "$port:$held" in
    ttyS*"low-latency on latency-timer -" | ttyUSB*"low-latency on latency-timer 1") ;;
    *) note "held port: $held"; case_failed=1 ;;
  esac
  tool "second-$port.out" '' -p "$port" ver
  matches "second-$port.out" "^$port +Access denied \(might be opened by another application\)\$"
  kill -TERM "$session_pid" # the probe hands it on to the tool
  end_tool 10
  has "$session.out" "@tty restored"
  has "$session.out" "exit 143" # ended by the signal, after its closing steps
  same "$port" "$found" "$(state "$port")"
  end
}

port_cases ttyS1 NC-4100 41000001 38400 /tmp/nc4100.nci 1.07 &
port_cases "$usb" NC-350 35000001 4800 /tmp/nc350.nci 1.08 &
wait

# ------------------------------------------------ the adapter pulled and put back
# With -w 30 the tool waits for the device each time and connects again; the
# session goes on. Each case leaves the adapter plugged in, under whichever
# name it came back.

connected() { echo "Connected to NC-350 (serial:35000001) at $1"; }
# The reconnect after a pull: the device connected again, the interrupted
# command named, a whole status report after it, and a clean end.
back_and_whole() { # interrupted command, port it is expected on
  wait_count "$session.out" "Connected to NC-350" 2 60
  has "$session.out" "Waiting up to 30 s for NC-350 (serial:35000001), press ESC or Ctrl-C to stop"
  has "$session.out" "$(connected "$2")"
  [ -z "$1" ] || wait_for "$session.out" "'$1' was interrupted and is not repeated" 10 || case_failed=1
  type_line status
  wait_for "$session.out" "Baudrate              Info    4800" 60
  type_line quit
  end_tool 30
  transcript "$session.out"
  expect [ "$(grep -cF 'System status         OK' "$session.out")" -ge 1 ]
  has "$session.out" "@tty restored"
  has "$session.out" "exit 0"
}

begin "adapter pulled at the prompt, the old port held: back as a new name"
old=$usb
stty -F "/dev/$old" clocal # so that the holder's open does not wait for carrier
sleep 600 <>"/dev/$old" &
holder=$!
start_tool idle -w 30 -p "$old"
wait_for "$session.out" "nc> " 30
pull_adapter 3
wait_adapter
usb=$(usb_port)
note "back as $usb"
expect [ "$usb" != "$old" ]
wait_for "$session.out" "Error: the device on $old hung up" 10 || case_failed=1
back_and_whole "" "$usb"
kill "$holder"
wait "$holder" 2>/dev/null
end

begin "adapter pulled during status, the port named by a by-id link udev moves"
mkdir -p /dev/serial/by-id
by_id=/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_1-0000:00:04.0-4-if00-port0
ln -sf "../../$usb" "$by_id"
host sim u0 delay 150
sleep 1
start_tool status -w 30 -p "$by_id"
wait_for "$session.out" "nc> " 30
type_line status
wait_for "$session.out" "System status" 30
pull_adapter 3
wait_adapter
usb=$(usb_port)
note "back as $usb"
ln -sf "../../$usb" "$by_id"
host sim u0 delay 0
has "$session.out" "Error: the device was lost, the report is incomplete"
back_and_whole status "$by_id"
end

begin "adapter pulled during nav"
start_tool nav -w 30 -p "$usb"
wait_for "$session.out" "nc> " 30
type_line nav
wait_for "$session.out" "Heading" 30
pull_adapter 3
wait_adapter
usb=$(usb_port)
back_and_whole nav "$usb"
has "$session.out" "failed to read NMEA data"
end

begin "adapter pulled during an upload at 115200: the upload ends updated"
host sim u0 delay 150
sleep 1
start_tool upload -w 30 -p "$usb"
wait_for "$session.out" "nc> " 30
type_line "upload -b 115200 /tmp/nc350-2.nci"
wait_for "$session.out" "Loading application" 30
sleep 1
pull_adapter 3
host sim u0 delay 0
wait_adapter
usb=$(usb_port)
wait_for "$session.out" "Device successfully updated to 1.09 Release" 120 || case_failed=1
type_line ver
wait_for "$session.out" "Software version: 1.09 Release" 30 || case_failed=1
back_and_whole "" "$usb"
end

begin "adapter pulled for good with -w 5: no devices found after the wait"
start_tool gone -w 5 -p "$usb"
wait_for "$session.out" "nc> " 30
host unplug
pulled_at=$(uptime)
wait_for "$session.out" "No devices found" 30 || case_failed=1
waited=$(echo "$(uptime) $pulled_at" | awk '{printf "%.1f", $1 - $2}')
note "no devices found $waited s after the pull"
expect awk "BEGIN {exit !($waited >= 4.5 && $waited <= 12)}"
end_tool 30
transcript "$session.out"
ended_as_specified "$session.out"
host plug
wait_adapter
usb=$(usb_port)
end

begin "adapter pulled at the prompt without -w: seen at once"
start_tool once -p "$usb"
wait_for "$session.out" "nc> " 30
host unplug
wait_for "$session.out" "Error: the device on $usb hung up" 3 || case_failed=1
wait_for "$session.out" "No devices found" 30 || case_failed=1
end_tool 30
transcript "$session.out"
ended_as_specified "$session.out"
host plug
wait_adapter
end

# ---------------------------------------------------------------- the drivers

note "$(grep -E '^[01]:' /proc/tty/driver/serial | tr '\n' ' ')"
note "$(cat /proc/tty/driver/usbserial | tail -n +2 | tr '\n' ' ')"
dmesg | grep -E 'ttyS1 at|FTDI|ftdi_sio' | sed 's/^/@rig | /'
echo "@rig done"
poweroff -f

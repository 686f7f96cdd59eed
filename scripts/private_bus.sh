# Sourced by the scripts that measure: start_private_bus DIR starts a session
# bus of their own with its socket in DIR, waits for its address, exports it as
# DBUS_SESSION_BUS_ADDRESS and leaves the daemon's process id in bus_pid.
start_private_bus() {
  dbus-daemon --session --nofork --nopidfile --nosyslog \
    --address="unix:path=$1/bus" --print-address >"$1/address" &
  bus_pid=$!
  for _ in $(seq 100); do [[ -s $1/address ]] && break; sleep 0.05; done
  DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$1/address")
  export DBUS_SESSION_BUS_ADDRESS
}

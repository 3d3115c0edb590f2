# Sourced by scripts that run in a private network namespace of their own:
# sim_host_up makes a second host for qapi-sim, a network namespace held open
# by a sleeping process and joined to this one by a veth pair (qtnet here,
# 10.78.0.1; qtsim there, 10.78.0.2), with the station group routed over
# the pair on both sides.  `there CMD...` runs a command on that host (a
# program to be stopped by its pid: nsenter --net="$sim_netns" PROGRAM &);
# sim_host_down ends it (its namespace vanishes with the holder).
sim_host_up() {
  unshare --net sleep 3600 &
  sim_holder=$!
  sim_netns=/proc/$sim_holder/ns/net
  while [ "$(readlink /proc/$sim_holder/ns/net)" = "$(readlink /proc/self/ns/net)" ]; do sleep 0.01; done
  ip link set lo up
  ip link add qtnet type veth peer name qtsim
  ip link set qtsim netns "$sim_holder"
  ip addr add 10.78.0.1/24 dev qtnet
  ip link set qtnet up
  ip route replace 224.0.0.0/4 dev qtnet
  there ip link set lo up
  there ip addr add 10.78.0.2/24 dev qtsim
  there ip link set qtsim up
  there ip route add 224.0.0.0/4 dev qtsim
  # A device drops what is sent before its queue starts ("qdisc noop").
  until sim_host_active ip -o link show dev qtnet && sim_host_active there ip -o link show dev qtsim; do
    sleep 0.01
  done
}

there() { nsenter --net="$sim_netns" "$@"; }

sim_host_active() { "$@" | grep ' state UP ' | grep -qv ' qdisc noop '; }

sim_host_down() {
  [ -z "${sim_holder:-}" ] || kill "$sim_holder" 2>/dev/null || true
}

#!/bin/bash
# Re-makes the real captures in this folder: each scene is built in a network
# namespace of its own (the host's interfaces are never touched), then
# `ip -details link show` is saved as <scene>.txt and
# `ip -details -json link show` as <scene>.json. Needs root, iproute2, openvpn
# and wireguard-go. ppp-up, wwan-up, wwan-qmi-up and wireguard-kernel-up are
# written by hand (no modem, no pppd, no wireguard module here).
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
tag=$$
namespaces=() pids=()

cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

scene() { # name: a fresh namespace with lo and an ethernet-like eth0 up
    ns=orvex-cap-$1-$tag
    ip netns add "$ns"
    namespaces+=("$ns")
    ip -n "$ns" link set lo up
    ip -n "$ns" link add eth0 type veth peer name eth0peer
    ip -n "$ns" link set eth0 up
    ip -n "$ns" link set eth0peer up
}

save() { # name
    ip -n "$ns" -details link show > "$out/$1.txt"
    ip -n "$ns" -details -json link show > "$out/$1.json"
    echo >> "$out/$1.json"
}

wait_carrier() { # interface
    for _ in $(seq 100); do
        ip -n "$ns" link show "$1" 2>/dev/null | grep -q LOWER_UP && return 0
        sleep 0.1
    done
    echo "no carrier on $1" >&2
    return 1
}

openvpn_on() { # device, device type: a real OpenVPN holding the device
    openvpn --genkey secret "$work/static.key" 2>/dev/null
    ip netns exec "$ns" openvpn --dev "$1" --dev-type "$2" --ifconfig 10.9.0.1 "$([ "$2" = tun ] && echo 10.9.0.2 || echo 255.255.255.0)" \
        --secret "$work/static.key" --cipher AES-256-CBC --local 127.0.0.1 --lport 1194 --remote 127.0.0.1 --rport 1195 \
        --daemon --writepid "$work/$1.pid" --log "$work/$1.log"
    for _ in $(seq 50); do [ -s "$work/$1.pid" ] && break; sleep 0.1; done
    pids+=("$(cat "$work/$1.pid")")
    wait_carrier "$1"
}

scene host-no-tunnel
ip -n "$ns" link add ifb0 type ifb
save host-no-tunnel

scene openvpn-tun-up
openvpn_on tun0 tun
save openvpn-tun-up

scene openvpn-up-plus-unattached-tun
openvpn_on tun0 tun
ip -n "$ns" tuntap add dev tun7 mode tun
ip -n "$ns" link set tun7 up
save openvpn-up-plus-unattached-tun

scene openvpn-tap-up
openvpn_on tap0 tap
save openvpn-tap-up

scene wireguard-up # wireguard-go: a tun device
ip netns exec "$ns" env WG_PROCESS_FOREGROUND=1 wireguard-go orvex_de1 >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do ip -n "$ns" link show orvex_de1 >/dev/null 2>&1 && break; sleep 0.1; done
ip -n "$ns" link set orvex_de1 up
wait_carrier orvex_de1
save wireguard-up

scene wireguard-after-down
save wireguard-after-down

scene tun-without-carrier # a tun named tun0, up, no process holding it
ip -n "$ns" tuntap add dev tun0 mode tun
ip -n "$ns" link set tun0 up
save tun-without-carrier

scene other-kinds-up # tunnel-like names on kinds that are no VPN
ip -n "$ns" link add tunnel0 type veth peer name tunnel0peer
ip -n "$ns" link add tunbr0 type bridge
ip -n "$ns" link set tunnel0peer master tunbr0
ip -n "$ns" link add tunvx0 type vxlan id 42 dstport 4789 dev eth0
ip -n "$ns" link add mvtun0 link eth0 type macvlan mode bridge
for dev in tunnel0 tunnel0peer tunbr0 tunvx0 mvtun0; do ip -n "$ns" link set "$dev" up; done
save other-kinds-up

echo "captured with $(ip -V)"

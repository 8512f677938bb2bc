#!/bin/sh
# systemd.sh FOLDER PROGRAM: the timer and the service of FOLDER pass systemd-analyze verify, the service
# starting PROGRAM where it starts the installed program.
set -eu
folder=$1 program=$2
units=$(mktemp -d)
trap 'rm -rf "$units"' EXIT
cp "$folder"/*.timer "$units"/
for service in "$folder"/*.service; do
  sed "s|/usr/bin/quillbox|$program|" "$service" >"$units/$(basename "$service")"
done
cd "$units"
systemd-analyze verify --man=no ./*.service ./*.timer

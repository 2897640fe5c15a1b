#!/usr/bin/env python3
"""Reads a network preferences store with plistlib, an implementation of the
format independent of ours, and prints what it holds, one line per set and
per shared service, in the form the editing tests print from the library's
own readers. Exits 1, naming the fault, when the store breaks the rules the
editors keep:

- a set's service order lists exactly the keys of its services level;
- every link is "/NetworkServices/<ID>" for a service that exists;
- every shared service is reached from some set's order;
- an inactive mark written by the editors is the integer 1.
"""
import plistlib
import sys


def entity_names(record):
    names = []
    for key in sorted(record):
        value = record[key]
        if isinstance(value, dict):
            names.append(key + ("*" if "__INACTIVE__" in value else ""))
    return names


def check_mark(where, record, faults):
    if "__INACTIVE__" in record:
        mark = record["__INACTIVE__"]
        if type(mark) is not int or mark != 1:
            faults.append(f"{where}: inactive mark {mark!r} is not the integer 1")


def main(path):
    with open(path, "rb") as f:
        root = plistlib.load(f)
    services = root.get("NetworkServices", {})
    sets = root.get("Sets", {})
    faults, lines, referenced = [], [], set()

    current = root.get("CurrentSet", "")
    lines.append(f"current {current.split('/')[-1]}")
    for set_id in sorted(sets):
        record = sets[set_id]
        network = record.get("Network", {})
        links = network.get("Service", {})
        order = network.get("Global", {}).get("IPv4", {}).get("ServiceOrder", [])
        if sorted(order) != sorted(links) or len(order) != len(set(order)):
            faults.append(f"set {set_id}: order {order} and services {sorted(links)} differ")
        resolved = []
        for local_id in order:
            target = links.get(local_id, {}).get("__LINK__", "")
            parts = target.split("/")
            if len(parts) != 3 or parts[1] != "NetworkServices" or parts[2] not in services:
                faults.append(f"set {set_id}: {local_id} links to {target!r}")
                continue
            resolved.append(parts[2])
            referenced.add(parts[2])
        lines.append(f"set {set_id} {record.get('UserDefinedName')!s} "
                     f"globals={','.join(entity_names(network.get('Global', {})))} "
                     f"services={','.join(resolved)}")
    for service_id in sorted(services):
        record = services[service_id]
        if service_id not in referenced:
            faults.append(f"service {service_id} is not reached from any set")
        check_mark(f"service {service_id}", record, faults)
        for name, entity in record.items():
            if isinstance(entity, dict):
                check_mark(f"service {service_id} entity {name}", entity, faults)
        active = "inactive" if "__INACTIVE__" in record else "active"
        lines.append(f"service {service_id} {record.get('UserDefinedName')!s} {active} "
                     f"entities={','.join(entity_names(record))}")

    print("\n".join(lines))
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))

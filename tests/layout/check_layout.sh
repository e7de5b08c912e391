#!/usr/bin/env bash
# Holds the source tree to its layout:
#  - every file of media/ lies in a wing, media/<wing>/, and includes from media/ only its own
#    wing and the wings it uses; the table of uses has no cycle;
#  - no product file (everything but tests/ and bench/) is longer than the line limit.
# check_layout.sh SOURCE_DIR MAX_LINES WING:USED,USED ...   (a wing that uses none: "core:")
# Prints every fault and exits 1 when there is any.
set -uo pipefail

root=$1
max_lines=$2
shift 2

declare -A uses
for spec in "$@"; do
    uses[${spec%%:*}]=" ${spec#*:} "
    uses[${spec%%:*}]=${uses[${spec%%:*}]//,/ }
done

faults=0
fault() {
    echo "$1"
    faults=$((faults + 1))
}

# A wing that reaches itself through the wings it uses.
reaches() {  # reaches FROM TARGET SEEN
    local used
    for used in ${uses[$1]}; do
        [[ $used == "$2" ]] && return 0
        [[ $3 == *" $used "* ]] && continue
        reaches "$used" "$2" "$3 $used " && return 0
    done
    return 1
}
for wing in "${!uses[@]}"; do
    for used in ${uses[$wing]}; do
        [[ -v uses[$used] ]] || fault "wing $wing uses $used, which is no wing"
    done
    reaches "$wing" "$wing" " " && fault "wing $wing uses itself through the wings it uses"
done

while IFS= read -r -d '' file; do
    relative=${file#"$root"/}
    IFS=/ read -r _ wing name <<<"$relative"
    if [[ -z $name || $name == */* || ! -v uses[$wing] ]]; then
        fault "$relative: not in a wing (media/<wing>/<file>)"
        continue
    fi
    while IFS=: read -r line included; do
        target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"$included")
        IFS=/ read -r top target_wing target_name <<<"$target"
        if [[ $top != media ]]; then
            # The framework's own headers come in <...>; a quoted one is ours.
            fault "$relative:$line: includes $target, from above media/"
        elif [[ -z $target_name ]]; then
            fault "$relative:$line: includes $target, which names no wing"
        elif [[ $target_wing != "$wing" && ${uses[$wing]} != *" $target_wing "* ]]; then
            fault "$relative:$line: includes $target: $wing may not use $target_wing"
        fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
done < <(find "$root/media" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)

# Build folders inside the source tree hold generated sources; they are no one's product.
while IFS= read -r -d '' folder; do
    name=$(basename "$folder")
    [[ $name == tests || $name == bench || $name == .* || -e $folder/CMakeCache.txt ]] && continue
    while IFS= read -r -d '' file; do
        lines=$(wc -l <"$file")
        ((lines > max_lines)) && fault "${file#"$root"/}: $lines lines, more than $max_lines"
    done < <(find "$folder" -type f \( -name '*.cpp' -o -name '*.h' \) -print0)
done < <(find "$root" -mindepth 1 -maxdepth 1 -type d -print0)

if ((faults > 0)); then
    echo "$faults layout faults"
    exit 1
fi
echo "layout kept: ${#uses[@]} wings"

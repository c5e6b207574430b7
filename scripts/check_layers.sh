#!/usr/bin/env bash
# Fails when a file built into quivel_core includes a GTK, GLib, libsoup or WebKit header or a
# platform or app header, or when a quivel_platform file includes an app header. Headers of
# the project are followed to their own includes.
# In the app layer, a subsystem's file (tabs, navigation, history, ...) includes only its own
# folder, src/base, src/platform, the pure core, other subsystems' services and profiles-window
# sections, and the shell's headers in src/app; nothing outside src/app includes the controller's header.
# Usage: check_layers.sh [SOURCE_DIR]
set -uo pipefail
root="${1:-$(dirname "$0")/..}"
cd "$root" || exit 2

# The files a sources.cmake list names, as paths relative to the root.
list_sources() {
    local list="$1"
    for cmake in src/*/sources.cmake; do
        local dir
        dir=$(dirname "$cmake")
        awk -v list="$list" '
            /list\(APPEND/ { inside = ($2 == list) ; next }
            /\)/ { inside = 0 }
            inside && /CMAKE_CURRENT_LIST_DIR/ { print }' "$cmake" |
            sed -e 's@.*\${CMAKE_CURRENT_LIST_DIR}/@'"$dir"'/@' -e 's@[[:space:]].*@@'
    done
}

# The project headers a file includes, relative to src/.
project_includes() {
    sed -n 's@^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*@\1@p' "$1"
}

status=0
# check FILE FORBIDDEN_REGEX LAYER: follows project headers, reporting each forbidden include.
check() {
    local start="$1" forbidden="$2" layer="$3"
    local -A seen=()
    local queue=("$start")
    while [ ${#queue[@]} -gt 0 ]; do
        local file="${queue[0]}"
        queue=("${queue[@]:1}")
        [ -n "${seen[$file]:-}" ] && continue
        seen[$file]=1
        [ -f "$file" ] || continue
        while IFS= read -r line; do
            echo "$layer: $file includes $line (reached from $start)"
            status=1
        done < <(grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($forbidden)" "$file")
        for inc in $(project_includes "$file"); do
            local owner="src/${inc%.h}.cpp"
            # A header is judged by the layer its source file is built into.
            if [[ " $allowed_sources " != *" $owner "* ]]; then
                if [[ "$inc" =~ ^($project_forbidden) ]] || [[ " $higher_sources " == *" $owner "* ]]; then
                    echo "$layer: $file includes \"$inc\" (reached from $start)"
                    status=1
                    continue
                fi
            fi
            [ -f "src/$inc" ] && queue+=("src/$inc")
        done
    done
}

system_forbidden='gtk|gtkmm|gdk|glib|gio|gobject|glibmm|giomm|libsoup|webkit|jsc|archive\.h|archive_entry'

core_files=$(list_sources QV_CORE_SOURCES)
platform_files=$(list_sources QV_PLATFORM_SOURCES)
app_files=$(list_sources QV_APP_SOURCES)
[ -n "$core_files" ] || { echo "no core sources found"; exit 2; }
core_forbidden="$system_forbidden"
project_forbidden='platform/|app/'
allowed_sources=$(echo $core_files)
higher_sources=$(echo $platform_files $app_files)
for f in $core_files; do
    check "$f" "$core_forbidden" "core"
    header="${f%.cpp}.h"
    [ -f "$header" ] && check "$header" "$core_forbidden" "core"
done
platform_forbidden='a^'
project_forbidden='app/'
allowed_sources=$(echo $core_files $platform_files)
higher_sources=$(echo $app_files)
for f in $platform_files; do
    check "$f" "$platform_forbidden" "platform"
    header="${f%.cpp}.h"
    [ -f "$header" ] && check "$header" "$platform_forbidden" "platform"
done
# The app layer: direct includes, as each header is checked as a file of its own.
subsystems='tabs|navigation|history|downloads|profiles|extensions|devtools|session|suggestions|bookmarks|contentblocking|permissions'
shell_headers=' app/sender.h app/shell.h app/services.h app/web_views.h app/view_helpers.h app/auxiliary_window.h app/window_bar.h app/row_list_model.h app/browser_window.h '
core_headers=" $(for f in $core_files; do echo "${f#src/}" | sed 's/\.cpp$/.h/'; done | tr '\n' ' ') "
app_layer_files=$(for d in tabs navigation history downloads profiles extensions devtools session suggestions bookmarks contentblocking permissions; do
    find "src/$d" -name '*.cpp' -o -name '*.h'; done | sort)
for f in $app_layer_files; do
    own=$(echo "$f" | cut -d/ -f2)
    violations=()
    for inc in $(project_includes "$f"); do
        case "$inc" in
            base/* | platform/* | "$own"/*) continue ;;
        esac
        [[ "$core_headers" == *" $inc "* ]] && continue
        [[ "$shell_headers" == *" $inc "* ]] && continue
        # A part's section of the profiles window is appended there by its class.
        if [[ "$inc" =~ ^($subsystems)/[a-z_]+_service\.h$ ]] || [ "$inc" = tabs/tab.h ] || [ "$inc" = tabs/tab_list.h ] \
            || { [ "$own" = profiles ] && [[ "$inc" =~ ^($subsystems)/[a-z_]+_section\.h$ ]]; }; then
            continue
        fi
        violations+=("$inc")
    done
    for inc in "${violations[@]}"; do
        echo "app: $f includes \"$inc\", which is neither its own, a service nor the shell's"
        status=1
    done
done
for f in $(grep -rl '"app/browser_controller.h"' src --include='*.cpp' --include='*.h' | grep -v '^src/app/'); do
    echo "app: $f includes the controller's header, which only src/app may"
    status=1
done
[ $status -eq 0 ] && echo "layers ok: $(echo "$core_files" | wc -w) core and $(echo "$platform_files" | wc -w) platform sources"
exit $status

# bash completion for korvane-capture

_korvane_capture() {
    local cur prev words cword
    _init_completion || return

    case $prev in
        --format)
            COMPREPLY=($(compgen -W 'bmp jpg png webp' -- "$cur"))
            return ;;
        --width | --height)
            COMPREPLY=($(compgen -W 'auto 640 800 1024 1280 1600' -- "$cur"))
            return ;;
        --quality)
            COMPREPLY=($(compgen -W '75 80 90 95 100' -- "$cur"))
            return ;;
        --proxy)
            COMPREPLY=($(compgen -W 'http:// https:// socks5://' -- "$cur"))
            compopt -o nospace
            return ;;
        -o)
            _filedir '@(bmp|jpg|jpeg|png|webp)'
            return ;;
        -i | --input | --cookies | --style-file | --script-file | --manifest)
            _filedir
            return ;;
        --settings)
            _filedir ini
            return ;;
        --report)
            _filedir '@(html|htm)'
            return ;;
        --output)
            _filedir -d
            return ;;
        --delay | --scale | --view-height | --timeout | --jobs | --memory | --padding | --shard | --hide | --remove | \
        --style | --script | --wait-for | --selector | --header | --user-agent | --cookie | --auth | --browser | \
        --browsers | --proxy-bypass)
            return ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-i --input -o --output --format --width --height --view-height --delay --scale
            --wait-idle --lazy --no-lazy --no-expand --timeout --strict --jobs --memory --no-images --no-video --no-scripts
            --plugins --no-plugins --no-java --no-activex --activex-download --cache --hide-scrollbars
            --hide --remove --hide-consent --style --style-file --script --script-file --wait-for
            --selector --padding --header --user-agent --cookie --cookies --auth --dark --reduced-motion
            --quality --omit-background --mobile --proxy --proxy-bypass --browsers
            --browser --shard --manifest --resume --report --view --settings -q --quiet -h --help
            -V --version' -- "$cur"))
        return
    fi
    # URLs, or local pages by their path.
    _filedir '@(html|htm|xhtml|svg)'
} &&
    complete -F _korvane_capture korvane-capture

# Sourced by the scripts that start a relay of their own.
# free_port: a TCP port on 127.0.0.1 that nobody listens on, below 32768 (the station reads the
# relay's port as a number up to 32767).
free_port() {
    local port i
    for ((i = 0; i < 100; i++)); do
        port=$((20000 + RANDOM % 12000))
        if ! (: </dev/tcp/127.0.0.1/"$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    return 1
}

# shellcheck shell=bash
# Sourced by scripts/demo.sh and bench/run_install_bench.sh.
# write_nginx_conf DIR ROOT PORT CONNECTIONS [HTTP_LINE]...: DIR/nginx.conf for one nginx
# without a master process that serves ROOT on 127.0.0.1:PORT and keeps its pid, lock, error log
# and temporary files in DIR; each HTTP_LINE (its access log) goes into the http block.
write_nginx_conf() {
  local dir=$1 root=$2 port=$3 connections=$4
  shift 4
  {
    cat <<CONF
daemon off;
master_process off;
worker_processes 1;
user root;
pid $dir/nginx.pid;
lock_file $dir/nginx.lock;
error_log $dir/error.log;
events { worker_connections $connections; }
http {
CONF
    [ $# -eq 0 ] || printf '  %s\n' "$@"
    cat <<CONF
  client_body_temp_path $dir/temp/body;
  proxy_temp_path $dir/temp/proxy;
  fastcgi_temp_path $dir/temp/fastcgi;
  uwsgi_temp_path $dir/temp/uwsgi;
  scgi_temp_path $dir/temp/scgi;
  types { }
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $root;
    location ~ /\\. { return 404; }
  }
}
CONF
  } >"$dir/nginx.conf"
}

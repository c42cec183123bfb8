#!/usr/bin/env bash
# Installs the engine into a fresh prefix and builds a C program against it
# with pkg-config alone: the public headers, the library and the .pc file.
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/quenta-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
pc=$(dirname "$(find "$prefix" -name quenta.pc | head -1)")
cat > "$prefix/prog.c" <<'C'
#include <quenta/quenta.h>
#include <stdio.h>
#include <string.h>
int main(void)
{
  RateInfo r;
  memset(&r, 0, sizeof r);
  if (parser_getRateInfo("010|0.50|0:00:00-0.30|0:0.00|0|60", &r) != 0)
    return 1;
  /* Before start-up every operation fails without touching anything. */
  if (quenta_getbill("x") != NULL || quenta_getReport(NULL, NULL, NULL) != -1)
    return 2;
  printf("prefix %s unit %d\n", r.m_prefix, r.m_min_bill_time);
  return 0;
}
C
flags=$(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs quenta)
cc -std=c11 -Wall -Wextra -Werror "$prefix/prog.c" -o "$prefix/prog" $flags -Wl,-rpath,"$prefix/$(basename "$(dirname "$pc")")"
out=$("$prefix/prog" 2>/dev/null | tail -1)
[ "$out" = "prefix 010 unit 60" ] || { echo "unexpected output: $out"; exit 1; }
echo "installed and linked: $out"

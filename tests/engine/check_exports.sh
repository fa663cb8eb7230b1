#!/bin/sh
# The engine library exports its interface and nothing else: no template
# instance, no helper, no symbol of the platform layer.
lib="$1"
expected="DiskIO_CheckFile DiskIO_CloseHandle DiskIO_MakeFileName DiskIO_OpenFile FreeMem GetMem copy_itemdata dl_reconnect dl_resume dl_set dl_start dl_stop free_itemdata torvane_end torvane_init tvnftp_end tvnftp_init"
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exported: $actual"
  echo "expected: $expected"
  exit 1
fi
echo "exports ok"

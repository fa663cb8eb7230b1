#!/bin/sh
# libtorvane.so exports its interface and nothing else.
expected="DiskIO_CheckFile DiskIO_CloseHandle DiskIO_MakeFileName DiskIO_OpenFile FreeMem GetMem copy_itemdata dl_reconnect dl_resume dl_set dl_start dl_stop dl_wide free_itemdata torvane_end torvane_init tvnftp_end tvnftp_init"
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sed 's/@.*//' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
[ "$actual" = "$expected" ] && echo "exports ok" && exit 0
printf 'exported: %s\nexpected: %s\n' "$actual" "$expected"
exit 1

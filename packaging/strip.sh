#!/bin/sh
# The strip that cpack runs on the packages' programs and libraries: as Debian's dh_strip does,
# it also drops the compiler's .comment and .note sections.
exec strip --remove-section=.comment --remove-section=.note --strip-unneeded "$@"

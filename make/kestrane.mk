# kestrane.mk: the sources that a supplier's build log announces, for GNU Make.
#
#   KESTRANE_LOG := supplier-build.log
#   include <prefix>/share/kestrane/kestrane.mk
#   OBJS := $(KESTRANE_SOURCES:.c=.o)
#   firmware: $(OBJS) $(KESTRANE_LIST)
#   	$(CC) $(LDFLAGS) -o $@ $(OBJS) $(LDLIBS)
#
# Set before the include:
#   KESTRANE_LOG          the supplier's build log (required)
#   KESTRANE_LIST         the list file kestrane writes (default: sources.txt);
#                         the makefile made from it is $(KESTRANE_LIST).mk
#   KESTRANE_ROOT         the folder the entries are relative to (default:
#                         the current one)
#   KESTRANE_EXTENSION    put after each entry (default: .c)
#   KESTRANE_ALLOW_EMPTY  not empty: a log that lists nothing is no error
#   KESTRANE              the program (default: the kestrane installed with
#                         this file, else kestrane on PATH)
# It sets:
#   KESTRANE_SOURCES      the listed files, in the log's order
# and KESTRANE_LIST, as a prerequisite, changes only when the list does: a
# program that depends on it is relinked when the log's order changes.
#
# The log is someone else's text, and make would parse, expand and hand to
# the shell whatever an entry holds. So kestrane runs with --strict, which
# refuses a log with any entry that is not a plain relative path, and the list
# is checked here once more before make reads a byte of it: a kestrane that
# ignores --strict (one from before it) cannot bring anything else in either.
# A refused log stops the build, with its name and the entry, escaped.
#
# The list is made by the rule for $(KESTRANE_LIST).mk, which make brings up
# to date before it reads the makefiles anew; nothing else runs meanwhile,
# under make -j too. Paths with blanks are not supported (make splits words
# at blanks); a POSIX shell and awk are needed.

kestrane_here := $(dir $(lastword $(MAKEFILE_LIST)))

ifeq ($(strip $(KESTRANE_LOG)),)
$(error kestrane.mk: set KESTRANE_LOG to the supplier's build log before the include)
endif
KESTRANE_LIST ?= sources.txt
KESTRANE_EXTENSION ?= .c
# Installed as <prefix>/share/kestrane/kestrane.mk beside <prefix>/bin/kestrane,
# or beside Kestrane.exe (the Windows ZIP).
KESTRANE ?= $(firstword $(wildcard $(patsubst %/share/kestrane/,%/bin/kestrane,$(filter \
  %/share/kestrane/,$(kestrane_here))) $(kestrane_here)Kestrane.exe) kestrane)

# kestrane takes each option from the first argument that merely contains its
# name, its own path included: such a path would be misread.
ifneq ($(findstring --input,$(KESTRANE) $(KESTRANE_LOG) $(KESTRANE_LIST))$(findstring \
  --output,$(KESTRANE) $(KESTRANE_LOG) $(KESTRANE_LIST)),)
$(error kestrane.mk: kestrane would misread a path with "--input" or "--output" \
  in it as an option: $(KESTRANE) $(KESTRANE_LOG) $(KESTRANE_LIST))
endif

# The check of the list, in awk under the C locale (bytes): each line, less
# the carriage return of a CR LF line end, must be a plain relative path
# (components of A-Z a-z 0-9 . _ - separated by /, none empty, none "..",
# none starting with -). It writes the makefile that sets KESTRANE_ENTRIES, or
# the first line it refuses, escaped as kestrane shows entries.
kestrane_check = \
  function shown(s,  i, c, t) { \
    for (i = 1; i <= length(s) && i <= 200; i++) { \
      c = substr(s, i, 1); \
      t = t ((c ~ /[ -~]/ && c != "\"" && c != "\\") ? c : sprintf("\\x%02X", code[c])) \
    } \
    return "\"" t "\"" (length(s) > 200 ? "... (" length(s) " bytes)" : "") \
  } \
  BEGIN { for (i = 1; i < 256; i++) code[sprintf("%c", i)] = i; print "KESTRANE_ENTRIES := \\" } \
  { \
    sub(/\r$$/, ""); \
    n = split($$0, part, "/"); \
    ok = n > 0; \
    for (i = 1; i <= n; i++) ok = ok && part[i] ~ /^[A-Za-z0-9._][A-Za-z0-9._-]*$$/ && part[i] != ".."; \
    if (!ok) { \
      print "list line " NR ": " shown($$0) " is not a plain relative path (a kestrane without --strict?)"; \
      refused = 1; exit 1 \
    } \
    print "  " $$0 " \\" \
  } \
  END { \
    if (refused) exit 1; \
    if (NR == 0 && empty_ok == "") { \
      print "lists no compiled source file (set KESTRANE_ALLOW_EMPTY to accept an empty list)"; \
      exit 1 \
    } \
    print "" \
  }

kestrane_goal := $(.DEFAULT_GOAL)

# The list is replaced only when it changed, so what depends on it is remade
# only then; the makefile is rewritten each time, so make stops asking.
$(KESTRANE_LIST).mk: $(KESTRANE_LOG)
	@echo "kestrane --strict --input=$< --output=$(KESTRANE_LIST)"
	@rm -f '$(KESTRANE_LIST).new' '$@.new'; \
	$(KESTRANE) --strict '--input=$<' '--output=$(KESTRANE_LIST).new' > '$@.said' 2>&1; \
	status=$$?; \
	if [ $$status -ne 0 ]; then \
	  echo "kestrane.mk: $<: `tail -n 1 '$@.said' | tr -d '\r' | cat -v` (exit status $$status)" >&2; \
	  rm -f '$@.said'; exit 1; \
	fi; \
	if ! LC_ALL=C awk -v empty_ok='$(KESTRANE_ALLOW_EMPTY)' '$(kestrane_check)' \
	    '$(KESTRANE_LIST).new' > '$@.new'; then \
	  echo "kestrane.mk: $<: `tail -n 1 '$@.new'`" >&2; \
	  rm -f '$(KESTRANE_LIST).new' '$@.new' '$@.said'; exit 1; \
	fi; \
	if cmp -s '$(KESTRANE_LIST).new' '$(KESTRANE_LIST)'; then \
	  rm -f '$(KESTRANE_LIST).new'; \
	else \
	  mv -f '$(KESTRANE_LIST).new' '$(KESTRANE_LIST)'; \
	fi; \
	rm -f '$@.said'; mv -f '$@.new' '$@'

include $(KESTRANE_LIST).mk

.DEFAULT_GOAL := $(kestrane_goal)

KESTRANE_SOURCES := $(addprefix $(if $(KESTRANE_ROOT),$(KESTRANE_ROOT:%/=%)/),$(addsuffix \
  $(KESTRANE_EXTENSION),$(KESTRANE_ENTRIES)))

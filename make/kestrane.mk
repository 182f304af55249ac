# kestrane.mk: the sources that a supplier's build log announces, for GNU Make.
#
#   KESTRANE_LOG := supplier-build.log
#   include <prefix>/share/kestrane/kestrane.mk
#   firmware: $(KESTRANE_OBJECTS) $(KESTRANE_LIST)
#   	$(CC) $(LDFLAGS) -o $@ $(KESTRANE_OBJECTS) $(LDLIBS)
#
# Set before the include:
#   KESTRANE_LOG          the supplier's build log (required)
#   KESTRANE_LIST         the list file kestrane writes (default: sources.txt);
#                         the makefile made from it is $(KESTRANE_LIST).mk,
#                         the lines left out, with each new list, are in
#                         $(KESTRANE_LIST).left-out
#   KESTRANE_ROOT         the folder the entries are relative to (default:
#                         the current one)
#   KESTRANE_EXTENSION    put after each entry (default: .c)
#   KESTRANE_ALLOW_EMPTY  not empty: a log that lists nothing is no error
#   KESTRANE              the program (default: the kestrane installed with
#                         this file, else kestrane on PATH)
# It sets:
#   KESTRANE_SOURCES      the listed files, in the log's order
#   KESTRANE_OBJECTS      their objects, each beside its source, in that order
# and KESTRANE_LIST, as a prerequisite, changes only when the list does: a
# program that depends on it is relinked when the log's order changes.
#
# The log is someone else's text, and make would parse, expand and hand to
# the shell whatever an entry holds. So kestrane runs with --strict, which
# refuses a log with any entry that is not a plain relative path, and the list
# is checked here once more before make reads a byte of it: a kestrane that
# ignores --strict (one from before it) cannot bring anything else in either.
# Every listed file must exist and, with symbolic links resolved, lie inside
# KESTRANE_ROOT; an entry with a blank is refused, as make splits words at
# blanks. A refused log stops the build, with its name and the entry, escaped.
# A new list is told with the lines that kestrane left out (--explain): how
# many, and the first five with their line numbers and reasons. An empty list
# stops the build so, unless KESTRANE_ALLOW_EMPTY is set, which the message
# offers only where no line was left out.
# Each object is made from its listed file by the rule below, with make's own
# recipe for the extension (COMPILE.c for .c), never by a built-in rule from
# a .cpp or .s file of the same name.
#
# The list is made by the rule for $(KESTRANE_LIST).mk, which make brings up
# to date before it reads the makefiles; nothing else runs meanwhile, under
# make -j too. The rule runs kestrane on every build, whatever the log's date
# (logs come out of archives and copies with the supplier's dates), and
# rewrites the makefile only when the list changed: make then reads the
# makefiles anew, once. A goal that ends in "clean" alone takes the makefile
# as it is, so a refused or missing log does not stop it. A POSIX shell, awk,
# cmp and realpath (or readlink -f) are needed.

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

# The first line of the makefile: the settings its list was checked with.
kestrane_checked := kestrane_checked_with := \
  $(KESTRANE_ROOT)|$(KESTRANE_EXTENSION)|$(KESTRANE_ALLOW_EMPTY)

# The check of the list, in awk under the C locale (bytes): each line, less
# the carriage return of a CR LF line end, must be a plain relative path
# (components of A-Z a-z 0-9 . _ - separated by /, none empty, none "..",
# none starting with -, the whole no longer than 4096 bytes). It writes the
# makefile that sets KESTRANE_ENTRIES to the file mk and each listed file's
# path to its output, or the first line it refuses, escaped as kestrane shows
# entries.
kestrane_check = \
  function shown(s,  i, c, t) { \
    for (i = 1; i <= length(s) && i <= 200; i++) { \
      c = substr(s, i, 1); \
      t = t ((c ~ /[ -~]/ && c != "\"" && c != "\\") ? c : sprintf("\\x%02X", code[c])) \
    } \
    return "\"" t "\"" (length(s) > 200 ? "... (" length(s) " bytes)" : "") \
  } \
  BEGIN { \
    for (i = 1; i < 256; i++) code[sprintf("%c", i)] = i; \
    print ENVIRON["checked"] > mk; print "KESTRANE_ENTRIES := \\" > mk \
  } \
  { \
    sub(/\r$$/, ""); \
    n = split($$0, part, "/"); \
    ok = n > 0 && length($$0) <= 4096; \
    for (i = 1; i <= n; i++) \
      ok = ok && part[i] ~ /^[A-Za-z0-9._ ][A-Za-z0-9._ -]*$$/ && part[i] != ".."; \
    if (ok && index($$0, " ")) { \
      print "list line " NR ": " shown($$0) " holds a blank, and make cannot take a file name " \
        "with blanks; build with CMake and kestrane_sources(), which can"; \
      refused = 1; exit 1 \
    } \
    if (!ok) { \
      print "list line " NR ": " shown($$0) " is not a plain relative path " \
        "(a kestrane without --strict?)"; \
      refused = 1; exit 1 \
    } \
    print "  " $$0 " \\" > mk; \
    print ENVIRON["root"] $$0 ENVIRON["extension"] \
  } \
  END { \
    if (refused) exit 1; \
    print "" > mk \
  }

# What a new list is told with: its number of sources (ENVIRON["sources"])
# and the lines kestrane left out, from its explanation ("<line number>\t
# <reason>\t<the line, escaped>" each, as input): how many, the first five,
# and where the others are. No source is an error (status 1) unless
# KESTRANE_ALLOW_EMPTY is set, which it offers where nothing was left out.
# Without an explanation (from a kestrane before --explain) it reads
# /dev/null, and ENVIRON["unknown"] says so.
kestrane_told = \
  { sub(/\r$$/, ""); gsub(/[^ -~\t]/, "?"); split($$0, part, "\t") } \
  NR <= 5 { first[NR] = "  line " part[1] ": " part[2] ": " part[3] } \
  END { \
    sources = ENVIRON["sources"] + 0; unknown = ENVIRON["unknown"] != ""; \
    lines = NR " line" (NR == 1 ? " that mentions" : "s that mention") " \"compiling\""; \
    if (sources > 0 || ENVIRON["empty_ok"] != "") \
      print "kestrane.mk: " sources " source" (sources == 1 ? "" : "s") " from " ENVIRON["log"] \
        " (" (unknown ? "kestrane does not tell which lines it left out" : lines " left out") ")"; \
    else if (NR > 0) \
      print "kestrane.mk: " ENVIRON["log"] ": lists no compiled source file; " lines " were left out:"; \
    else \
      print "kestrane.mk: " ENVIRON["log"] ": lists no compiled source file" \
        (unknown ? "" : ", and no line of it mentions \"compiling\"") \
        " (set KESTRANE_ALLOW_EMPTY to accept an empty list)"; \
    for (i = 1; i <= NR && i <= 5; i++) print first[i]; \
    if (NR > 5) print "  " NR - 5 " more in " ENVIRON["left"]; \
    exit sources == 0 && ENVIRON["empty_ok"] == "" \
  }

# With the listed files' paths and then their real paths as input: the first
# real path outside the root's, if any.
kestrane_inside = \
  NR == FNR { path[FNR] = $$0; paths = FNR; next } \
  { real++ } \
  index($$0, ENVIRON["real_root"]) != 1 { \
    gsub(/[^ -~]/, "?"); \
    print "lists the source file " path[FNR] ", which is, with symbolic links resolved, " \
      $$0 ", outside " substr(ENVIRON["real_root"], 1, length(ENVIRON["real_root"]) - 1); \
    refused = 1; exit 1 \
  } \
  END { \
    if (!refused && real != paths) { \
      print "could not resolve the symbolic links of the listed files (is realpath there?)"; \
      exit 1 \
    } \
  }

kestrane_goal := $(.DEFAULT_GOAL)
kestrane_cleaning := $(if $(MAKECMDGOALS),$(if $(filter-out %clean,$(MAKECMDGOALS)),,yes))

ifeq ($(kestrane_cleaning),)
# kestrane runs each time: the list in a pipe (descriptor 3, without the
# banner) against the list kept, a short one by the shell itself, a long one
# by cmp. A failure adds a line that no list holds; the dot keeps the last
# line feed. Only a new list, new settings or a failure go on: kestrane
# again, into a file and with --explain, and the checks. The list and the
# makefile are replaced only when they changed, so what depends on the list
# is remade, and make reads the makefiles anew, only then.
.PHONY: .kestrane-run
.kestrane-run: ;
$(KESTRANE_LIST).mk: .kestrane-run
	@log='$(KESTRANE_LOG)' list='$(KESTRANE_LIST)' mk='$@' left='$(KESTRANE_LIST).left-out'; \
	if [ -f "$$log" ] && [ -f "$$list" ] && [ -f "$$mk" ] && read -r checked < "$$mk" && \
	   [ "$$checked" = '$(kestrane_checked)' ]; then \
	  new=$$($(KESTRANE) --strict --allow-blanks "--input=$$log" --output=/dev/fd/3 \
	         3>&1 > /dev/null 2>&1 || echo ../failed; echo .); \
	  if [ $${#new} -gt 16384 ]; then \
	    printf %s "$${new%.}" | cmp -s - "$$list" && exit 0; \
	  else \
	    old=; nl=$$(printf '\n.'); nl=$${nl%.}; \
	    while [ $${#old} -lt $${#new} ] && IFS= read -r line; do old="$$old$$line$$nl"; \
	    done < "$$list"; \
	    [ "$$old." = "$$new" ] && exit 0; \
	  fi; \
	fi; \
	echo "kestrane --strict --allow-blanks --input=$$log --output=$$list --explain=$$left"; \
	fail() { \
	  echo "kestrane.mk: $$log: $$1" >&2; \
	  rm -f "$$list.new" "$$mk.new" "$$mk.said" "$$mk.paths"; exit 1; \
	}; \
	if [ ! -f "$$log" ]; then \
	  fail "the supplier's build log is missing or not a regular file (a folder, a device or a pipe)"; \
	fi; \
	rm -f "$$list.new" "$$mk.new" "$$left"; \
	$(KESTRANE) --strict --allow-blanks "--input=$$log" "--output=$$list.new" "--explain=$$left" \
	  > "$$mk.said" 2>&1; \
	status=$$?; \
	if [ $$status -ne 0 ]; then \
	  fail "`tail -n 1 "$$mk.said" | tr -d '\r' | cat -v` (exit status $$status)"; \
	fi; \
	if ! checked='$(kestrane_checked)' root='$(if $(KESTRANE_ROOT),$(KESTRANE_ROOT:%/=%)/)' \
	    extension='$(KESTRANE_EXTENSION)' LC_ALL=C \
	    awk -v mk="$$mk.new" '$(kestrane_check)' "$$list.new" > "$$mk.paths"; then \
	  fail "`tail -n 1 "$$mk.paths"`"; \
	fi; \
	set -f; \
	for path in `cat "$$mk.paths"`; do \
	  [ -f "$$path" ] || fail "lists a source file that is not there: $$path"; \
	done; \
	if [ -s "$$mk.paths" ]; then \
	  if command -v realpath > /dev/null; then resolve=realpath; else resolve='readlink -f'; fi; \
	  real_root=`cd -P '$(or $(KESTRANE_ROOT),.)' && pwd -P`/ && \
	  said=`xargs $$resolve < "$$mk.paths" | real_root="$$real_root" LC_ALL=C \
	    awk '$(kestrane_inside)' "$$mk.paths" -` || fail "$$said"; \
	fi; \
	told=$$left unknown=; [ -f "$$left" ] || told=/dev/null unknown=1; \
	told=`sources=\`wc -l < "$$mk.paths"\` unknown=$$unknown log="$$log" left="$$left" \
	    empty_ok='$(KESTRANE_ALLOW_EMPTY)' LC_ALL=C awk '$(kestrane_told)' "$$told"` || { \
	  echo "$$told" >&2; rm -f "$$list.new" "$$mk.new" "$$mk.said" "$$mk.paths"; exit 1; \
	}; \
	echo "$$told"; \
	cmp -s "$$list.new" "$$list" || mv -f "$$list.new" "$$list"; \
	cmp -s "$$mk.new" "$$mk" || mv -f "$$mk.new" "$$mk"; \
	rm -f "$$list.new" "$$mk.new" "$$mk.said" "$$mk.paths"

include $(KESTRANE_LIST).mk
else
# Cleaning: the last list, as it is.
-include $(KESTRANE_LIST).mk
endif

KESTRANE_SOURCES := $(addprefix $(if $(KESTRANE_ROOT),$(KESTRANE_ROOT:%/=%)/),$(addsuffix \
  $(KESTRANE_EXTENSION),$(KESTRANE_ENTRIES)))
KESTRANE_OBJECTS := $(addsuffix .o,$(KESTRANE_SOURCES:$(KESTRANE_EXTENSION)=))

# The include's own rule for the listed objects: make's built-in rules would
# take a .cpp or .s file of the same name when the listed file is missing.
ifneq ($(and $(KESTRANE_OBJECTS),$(KESTRANE_EXTENSION),$(COMPILE$(KESTRANE_EXTENSION))),)
$(sort $(KESTRANE_OBJECTS)): %.o: %$(KESTRANE_EXTENSION)
	$(COMPILE$(KESTRANE_EXTENSION)) $(OUTPUT_OPTION) $<
endif

.DEFAULT_GOAL := $(kestrane_goal)

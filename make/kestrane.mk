# kestrane.mk: the sources that a supplier's build log announces, for GNU
# Make (man kestrane tells all).
#
#   KESTRANE_LOG := supplier-build.log        # required; optional, [default]:
#   KESTRANE_LIST KESTRANE_ROOT KESTRANE_EXTENSION KESTRANE_ALLOW_EMPTY
#   KESTRANE_TIMEOUT KESTRANE                 # [sources.txt] [.] [.c] [] [120]
#   include <prefix>/share/kestrane/kestrane.mk
#   firmware: $(KESTRANE_OBJECTS) $(KESTRANE_LIST) ; $(CC) -o $@ $(KESTRANE_OBJECTS)
#
# KESTRANE_SOURCES are the listed files in log order, KESTRANE_OBJECTS their
# objects; KESTRANE_LIST changes only with the list. kestrane checks every
# entry and nothing here does again: --strict (plain paths, no blanks, at
# which make splits words), --root and --extension (regular files inside the
# tree). It runs on every build, within KESTRANE_TIMEOUT where `timeout`
# exists, and leaves an unchanged list as it was; only a new list, or other
# settings, rewrite $(KESTRANE_LIST).mk, told, and make reads it anew. A goal
# that ends in "clean" takes the last list as it is.

kestrane_here := $(dir $(lastword $(MAKEFILE_LIST)))

ifeq ($(strip $(KESTRANE_LOG)),)
$(error kestrane.mk: set KESTRANE_LOG to the supplier's build log before the include)
endif
KESTRANE_LIST ?= sources.txt
KESTRANE_EXTENSION ?= .c
KESTRANE_TIMEOUT ?= 120
# Installed in <prefix>/share/kestrane/ beside <prefix>/bin/, or in the ZIP.
KESTRANE ?= $(firstword $(wildcard $(patsubst %/share/kestrane/,%/bin/kestrane,$(filter \
  %/share/kestrane/,$(kestrane_here))) $(kestrane_here)Kestrane.exe) kestrane)

# kestrane takes --input and --output from the first argument that merely
# contains the name, its own path included: a value holding one is misread.
kestrane_passed := $(KESTRANE) $(KESTRANE_LOG) $(KESTRANE_LIST) $(KESTRANE_ROOT) \
  $(KESTRANE_EXTENSION)
ifneq ($(findstring --input,$(kestrane_passed))$(findstring --output,$(kestrane_passed)),)
$(error kestrane.mk: kestrane would misread a value with "--input" or "--output" \
  in it as that option: $(kestrane_passed))
endif

# The makefile's first line: the settings its list was told with.
kestrane_made := kestrane_made_with := $(KESTRANE_ROOT)|$(KESTRANE_EXTENSION)|$(KESTRANE_ALLOW_EMPTY)

# What a list is told with, from the list, kestrane's explanation (a line
# "<n>\t<reason>\t<line>" a line left out, the last perhaps "<N> more lines
# left out") and its report ("+\t<new>\t<entry>", "-\t<old>\t<entry>",
# "~\t<new>\t<old>\t<entry>", or one line: "no earlier list", "more than
# ..."); kestrane quoted and escaped what they show of the log. A list that
# is empty and not allowed to be fails (status 1) with why; \047 is a quote.
kestrane_told = BEGIN { \
  while ((getline line < ENVIRON["list"]) > 0) sources++; \
  while ((getline line < ENVIRON["left"]) > 0) \
    if (split(line, part, "\t") < 3) left += line; \
    else if (++left <= 5) told = told "\n  line " part[1] ": " part[2] ": " part[3]; \
  if (left > 5) told = told "\n  " left - 5 " more in " ENVIRON["left"]; \
  lines = left + 0 " line" (left == 1 ? " that mentions" : "s that mention") " \"compiling\""; \
  since = "the same list as before"; \
  while ((getline line < ENVIRON["changes"]) > 0) \
    if (split(line, part, "\t") < 3) \
      since = line ~ /^no earlier list/ ? "the first list" : "since the last list: " line; \
    else if (++count[part[1]] && ++changes <= 5) { \
      entry = substr(part[part[1] == "~" ? 4 : 3], 2); \
      if (match(entry, /"[^"]*$$/)) entry = substr(entry, 1, RSTART - 1) substr(entry, RSTART + 1); \
      shown = shown "\n    " part[1] " " entry (part[1] == "+" ? " (" part[2] ")" : \
        part[1] == "-" ? " (was " part[2] ")" : " " part[2] " (was " part[3] ")") \
    } \
  if (changes) since = "since the last list: " count["+"] + 0 " added, " count["-"] + 0 \
    " removed, " count["~"] + 0 " moved"; \
  if (since ~ /^since/) since = since " (all in " ENVIRON["changes"] ")"; \
  if (sources || ENVIRON["empty_ok"] != "") \
    told = "kestrane.mk: " sources + 0 " source" (sources == 1 ? "" : "s") " from " \
      ENVIRON["log"] " (" lines " left out)\n  " since shown told; \
  else if (left) \
    told = "kestrane.mk: " ENVIRON["log"] ": lists no compiled source file; " lines \
      (left == 1 ? " was" : " were") " left out:" told \
      "\n  (set KESTRANE_ALLOW_EMPTY to accept an empty list)"; \
  else \
    told = "kestrane.mk: no line of " ENVIRON["log"] " mentions \"compiling\": is it the " \
      "supplier\047s build log, in the form the README describes?"; \
  gsub(/\r/, "", told); print told; exit !(sources || ENVIRON["empty_ok"] != "") \
}

kestrane_goal := $(.DEFAULT_GOAL)
kestrane_cleaning := $(if $(MAKECMDGOALS),$(if $(filter-out %clean,$(MAKECMDGOALS)),,yes))

ifeq ($(kestrane_cleaning)$(MAKE_RESTARTS),)
# The makefile stands when the report is empty (the same list), it was told
# with these settings, and the list is not newer (a build that stopped after
# the list changed: to an empty one, say). A restart has run kestrane. A
# failure is told by the makefile it leaves, which make reads anew: so make
# says only why, and a clean goal still finds the last list.
.PHONY: .kestrane-run
.kestrane-run: ;
$(KESTRANE_LIST).mk: .kestrane-run $(wildcard $(KESTRANE_LIST))
	@log='$(KESTRANE_LOG)' list='$(KESTRANE_LIST)' seconds='$(KESTRANE_TIMEOUT)' seconds_ok=; \
	fail() { printf '%s\n' "$$1" > '$@.said'; { echo 'kestrane_made_with := failed'; \
	  [ -f '$@' ] && sed -e 1d -e '/^kestrane_failed/d' '$@'; echo 'kestrane_failed := $@.said'; } \
	  > '$@.new' && mv -f '$@.new' '$@'; exit 0; }; \
	case $$seconds in *[!0-9.]* | *.*.*) ;; *[1-9]*) seconds_ok=1;; esac; \
	[ -n "$$seconds_ok" ] || \
	  fail "KESTRANE_TIMEOUT takes a number of seconds greater than 0, not \"$$seconds\""; \
	[ -f "$$log" ] || fail "$$log: the supplier's build log is missing or not a regular \
	file (a folder, a device or a pipe)"; \
	limit=; if command -v timeout > /dev/null; then limit="timeout $$seconds"; fi; \
	rm -f "$$list.changes"; \
	said=`$$limit $(KESTRANE) --strict '--root=$(or $(KESTRANE_ROOT),.)' \
	  '--extension=$(KESTRANE_EXTENSION)' "--input=$$log" "--output=$$list" \
	  "--explain=$$list.left-out" "--changes=$$list.changes" 2>&1`; \
	status=$$?; \
	if [ $$status -eq 124 ] && [ -n "$$limit" ]; then fail "$$log: kestrane $(KESTRANE) did not \
	finish within $$seconds s (set KESTRANE_TIMEOUT if the log is that large)"; fi; \
	[ $$status -eq 0 ] || \
	  fail "$$log: `printf '%s\n' "$$said" | tail -n 1 | tr -d '\r'` (exit status $$status)"; \
	[ -f "$$list.changes" ] || fail "$(KESTRANE) is not a kestrane that checks the source tree \
	and reports changes (--root, --changes); use the kestrane this include came with"; \
	if [ ! -s "$$list.changes" ] && [ -z '$(filter $(KESTRANE_LIST),$?)' ] && [ -f '$@' ] && \
	   read -r made < '$@' && [ "$$made" = '$(kestrane_made)' ]; then exit 0; fi; \
	told=`list="$$list" left="$$list.left-out" changes="$$list.changes" log="$$log" \
	  empty_ok='$(KESTRANE_ALLOW_EMPTY)' awk '$(kestrane_told)'` || fail "$${told#kestrane.mk: }"; \
	echo "$$told"; \
	{ echo '$(kestrane_made)'; echo 'KESTRANE_ENTRIES := \'; \
	  tr -d '\r' < "$$list" | sed 's/.*/  & \\/'; echo; } > '$@.new' && mv -f '$@.new' '$@'
endif
ifeq ($(kestrane_cleaning),)
include $(KESTRANE_LIST).mk
ifneq ($(MAKE_RESTARTS),)
$(if $(kestrane_failed),$(error kestrane.mk: $(or $(file <$(kestrane_failed)),$(shell cat '$(kestrane_failed)'))))
endif
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

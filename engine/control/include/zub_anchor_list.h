// zub_anchor_list.h - the anchor lists "dns_zub.cfg" (hexadecimal hardware id and dotted IPv4
// address per entry) and "anchor_attribute.cfg" (hexadecimal hardware id and decimal working
// mode per entry).
//
// Entries are whitespace-separated tokens, as a scanf-style reader takes them; each token is
// read with a bound, so an over-long token is skipped whole. An entry that does not match
// (not hexadecimal, out of range, not a dotted address, a field missing) is skipped with a
// log line and reading goes on at the next line; when an entry's second field lies on a later
// line and does not match, reading goes on from that field, which may start the next entry.
//
// Control job's thread, at power-on (RTLSControlHandler::load_anchor_cfg) before the jobs start.
#pragma once

#include <cstdio>

#include "VorlenTypes.h"

// Anchors a list may name: the walks over the anchors that take anchor_count modulo 10000 (the
// distance matrix among them) would find none in 10000.
constexpr unsigned ZUB_MAX_LISTED_ANCHORS = 9999;

// Reads the anchors of an open "dns_zub.cfg": maps and initialises each one. Returns the
// number of entries taken; stops, logged, at a new anchor past ZUB_MAX_LISTED_ANCHORS or when
// no local id is left.
int zub_read_anchor_list(FILE* file);
// Reads the working modes of an open "anchor_attribute.cfg" (unknown ids ignored; a mode other
// than 0, 1 or 2 is logged and its entry skipped).
int zub_read_anchor_attributes(FILE* file);
// "dns_zub.cfg", then "anchor_attribute.cfg", from the directory `dir` ("" or "." the
// working directory).
void zub_load_anchor_files(const char* dir);

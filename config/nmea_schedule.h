// Spreads the NMEA 0183 output sentences over time: every sentence gets an offset
// within its interval so that they do not all start together. Pure apart from
// its warnings (level 0 and 2).
#pragma once
#include <cstdint>
#include <vector>

#include "config/queries.h"

// Characters on the wire of one sentence of the formatters the schedule places;
// 0 for every other formatter.
uint32_t nmea_sentence_length(const char* formatter);

// Milliseconds that n characters take at baud (10 bits a character), truncated.
uint64_t nmea_transmission_ms(uint64_t characters, uint32_t baud);

// Sets the offset of every entry (length already filled) for a link at baud.
// The shortest interval is the slot: its sentences sit back to back at the
// start of every slot, the slower ones fill the rest of the slots in table order.
void nmea_schedule(std::vector<SentenceEntry>& entries, uint32_t baud);

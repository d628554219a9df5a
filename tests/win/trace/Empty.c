/* Stand-in message library: only its message table resource matters. */
int korvix_message_stand_in;

#pragma once
// The robot's ears: the client of the speech recogniser, which runs as its own
// program and talks over TCP (port 10500) in its module protocol. Commands go
// out as text lines; results come back as messages of LF-separated lines that
// end with a line holding a single ".". The word of the last word-hypothesis
// line is kept in one 256-byte buffer that the voice modes read and mark.
//
// Every operation takes the connection (the socket do_connect returned; the
// robot keeps it in prisijungimas). A value that is not a connected socket
// (1 or -1 after a failed connect) makes sends and reads fail harmlessly.

#include <cstddef>

// Size of the word buffer and of every line buffer of the client.
constexpr int kRecogniserLineSize = 256;
// The recogniser listens here; the client connects here whatever the caller asks.
constexpr int kRecogniserPort = 10500;

// Starts the recogniser program (keyboard command "julius"); does not wait.
void do_julius();

// Connects to the recogniser on host; the connection always goes to port 10500
// (portnum is only remembered). The socket (above 1) on success; -1 when the
// host is unknown or no socket can be made; 1 when bind or connect fails.
int do_connect(const char* host, int portnum);
// Tells the recogniser to end ("DIE"), as komanda_die.
void do_disconnect(int sd);

// Reads one line into buf (LF removed). nullptr when the connection fails or
// closes. A line that does not fit in size-1 characters ends the program with
// exit status 1 after its message.
char* do_receive(int sd, char* buf, int size);
// Reads one whole message and returns the word buffer (the last word of the
// message, or the earlier word when the message has none). Callers may write
// into the buffer (kRecogniserLineSize bytes).
char* do_output(int sd);
// Parses one received line of a buffer of len bytes (modified): a word line
// puts its word into the word buffer. Returns the word buffer.
char* do_deshifre(char* line, int len);
// The word buffer itself (what do_output returns).
char* recognisedWord();
// True when the last read found the connection closed or broken: nothing will
// come on it again, and do_output returns at once.
bool recogniserLost();

// Send a fixed text, or a printf-style text of at most 255 characters.
void do_send(int sd, const char* text);
void do_sendf(int sd, const char* format, ...) __attribute__((format(printf, 2, 3)));

void komanda_sync_grammar(int sd);
void komanda_resume_recog(int sd);
void komanda_terminate_recog(int sd);
void komanda_pause_recog(int sd);
void komanda_get_status(int sd);
void komanda_get_version(int sd);
void komanda_die(int sd);
void komanda_set_input_handler_on_change(int sd, const char* mode);
// ids: grammar ids separated by commas ("1,3").
void komanda_deactivate_grammar(int sd, const char* ids);
void komanda_activate_grammar(int sd, const char* ids);
void komanda_delete_grammar(int sd, const char* ids);
// Upload the grammar prefix.dfa and prefix.dict: 0, or -1 when a file is
// missing or unreadable (then nothing is sent).
int komanda_add_grammar(int sd, const char* prefix);
int komanda_change_grammar(int sd, const char* prefix);

// Runs the keyboard command line collected by command_loop.
void do_command(int sd);
// Puts line into the keyboard command buffer (cut to its size) and runs it.
void do_command_line(int sd, const char* line);

// Multiplexes the recogniser and the keyboard: waits 50 ms for a message, else
// takes one key of a typed command. once != 0: a single pass (the voice modes);
// 0: until the keyboard input ends, the connection closes or the wait fails.
void command_loop(int sd, int once);

// Collects the keys of one typed command line: CR ends the line as LF, LF ends
// it too; keys past the buffer's 254 characters are dropped until the end of
// the line. No echo, no editing.
class TypedLine {
public:
    // Takes one key; true when it ended the line (text() is then complete).
    bool take(int key);
    const char* text() const { return text_; }
    void clear();

private:
    char text_[kRecogniserLineSize] = {};
    int length_ = 0;
};

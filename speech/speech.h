#pragma once
// Speech: the recogniser client and the voice dialogue modes. The robot speaks
// through platform::WinExec ("eSpeak.exe -v VOICE TEXT"); it hears through the
// recogniser connection kept in prisijungimas.
//
// Start-up:  prisijungimas = do_connect("localhost", 10500);
//            if (prisijungimas > 1) komanda_pause_recog(prisijungimas);
// Shutdown:  do_disconnect(prisijungimas);   // sends "DIE", whatever the state

#include "speech/client1.h"

extern int prisijungimas;  // recogniser socket when connected (above 1); 1 or -1 when not
extern int robotorezimas;  // robot mode the voice dialogue chose last

// The opening greeting: waits until the user says SVEIKAS (or Esc, then any
// sound), greets back. -1 when not connected (prisijungimas == 1), otherwise 1.
int Pradzia();

// Asks what to do and returns the robot mode: 1 known faces (KAS), 2 object
// search (SURASK), 3 stereo wandering (PIRMYN), 0 menu (SVEIKAS, or the key m
// followed by any sound, or not connected).
int DialogasRobRezimas();

// Answers thirty words aloud until Esc (then any sound); d switches the spoken
// answers off and on.
void KalboaAtpazinimas_demo();

// The word of one recogniser message (also kept in naujasZodis and senasZodis).
char* zodzio_reiksme();
extern char* naujasZodis;
extern char* senasZodis;

#pragma once
// The robot's text menus: the main menu, five sub-menus, the about and
// statistics screens. Each menu reads one number and Enter.

void meniupagr();
unsigned int meniu();
int meniudialogas();
int meniusistema();
int meniuStereo();
int meniurobrez();
void meniuDialogasrez();
void meniusisrez();
void meniuStereorez();
void meniurez();
void meniuivedimas();
void meniuapie();
void menustatistika();

// The statistics screen's values; the face modes keep them up to date.
struct FaceStatistics {
    int noofegineface = 0;
    int nooftraingimage = 0;
    float confi = 0;
    int accuracy = 0;
    float detectiontime = 0;
    int detectfacetime = 0;
};
// Where the statistics screen takes its values (set by main).
extern FaceStatistics (*readFaceStatistics)();

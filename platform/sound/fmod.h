// The MP3 stream functions of the sound library the show was written against, over libmpg123 and
// SDL2 audio. The stream's play position is the show's clock.
#pragma once

struct FSOUND_STREAM;

constexpr int FSOUND_OUTPUT_NOSOUND = 0;
constexpr int FSOUND_OUTPUT_WINMM = 1;
constexpr int FSOUND_OUTPUT_DSOUND = 2;
constexpr int FSOUND_FREE = -1;

signed char FSOUND_SetOutput(int outputType);
signed char FSOUND_SetDriver(int driver);
signed char FSOUND_SetBufferSize(int lengthMs);
signed char FSOUND_Init(int mixRate, int maxSoftwareChannels, unsigned int flags);
signed char FSOUND_SetVolume(int channel, int volume);
void FSOUND_Close();

FSOUND_STREAM* FSOUND_Stream_OpenFile(const char* fileName, unsigned int mode, int size);
signed char FSOUND_Stream_SetTime(FSOUND_STREAM* stream, int ms);
int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream);
int FSOUND_Stream_GetTime(FSOUND_STREAM* stream);
signed char FSOUND_Stream_Stop(FSOUND_STREAM* stream);
signed char FSOUND_Stream_Close(FSOUND_STREAM* stream);

// The window's idle pipeline components: an MP3-to-WAV decoder and an Ogg Vorbis file
// source. No conversion connects them; creating them checks that their libraries are
// present, and a missing one stops the creation of the window with its message.
// Created and destroyed on the window thread.
#pragma once

// The MP3 decoder: needs the decoder library that the program loads when it starts.
class TMP3ToWav {
 public:
  // Raises EAudioException "libmad.so.0 library could not be loaded." when it is missing.
  TMP3ToWav();
};

// The Ogg Vorbis file source: needs the four Ogg Vorbis libraries that the program
// loads when it starts.
class TVorbisIn {
 public:
  // Raises EAudioException naming the first of the libraries that is missing, checked
  // in the order libogg, libvorbis, libvorbisfile, libvorbisenc.
  TVorbisIn();
};

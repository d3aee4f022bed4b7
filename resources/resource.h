/* Resource IDs of Velmora, shared by Velmora.rc and the C++ code (MAKEINTRESOURCE(IDI_VELMORA)).
   Plain #defines only, so that both rc.exe/windres and the C++ compiler read it. */
#ifndef VELMORA_RESOURCE_H
#define VELMORA_RESOURCE_H

/* The program's icon: one 32 x 32 image, 24 bits per pixel with an AND mask (Velmora.ico). */
#define IDI_VELMORA 1

#endif /* VELMORA_RESOURCE_H */

// The window's layout as the capture code asks for it. The window gives the capture code an
// object of its own behind this face, so that connecting a card lays the window out for its
// picture without the capture code calling into the window's folder.
#pragma once

class PictureLayout {
  public:
    virtual ~PictureLayout() = default;
    // The picture area at ImageWidth x ImageHeight, the window around it.
    virtual void LayoutWindowed() = 0;
    // The window over the whole desktop, the picture at the run mode's target size.
    virtual void LayoutFullScreen() = 0;
    // The picture area fitted to the capture format's size.
    virtual void FitToCaptureFormat() = 0;
};

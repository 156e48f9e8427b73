package kpdev;

/**
 * The two tracks of a swiped magnetic card, as the head read them (ASCII; an empty text for a track
 * the card does not have).
 */
public final class MagneticTracks {
    private final String track1;
    private final String track2;

    public MagneticTracks(String track1, String track2) {
        this.track1 = track1;
        this.track2 = track2;
    }

    public String getTrack1() {
        return track1;
    }

    public String getTrack2() {
        return track2;
    }
}

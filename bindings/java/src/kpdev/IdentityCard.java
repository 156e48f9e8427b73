package kpdev;

/** The texts of a resident identity card, decoded from GBK. */
public final class IdentityCard {
    private final String[] fields;
    private final String photoPath;

    IdentityCard(String[] fields, String photoPath) {
        this.fields = fields.clone();
        this.photoPath = photoPath;
    }

    public String getName() {
        return fields[0];
    }

    /** "男" or "女". */
    public String getSex() {
        return fields[1];
    }

    /** The nation's name, e.g. "汉族"; " " for a code the national table does not have. */
    public String getNation() {
        return fields[2];
    }

    /** YYYYMMDD. */
    public String getBirthDate() {
        return fields[3];
    }

    public String getAddress() {
        return fields[4];
    }

    public String getNumber() {
        return fields[5];
    }

    public String getAuthority() {
        return fields[6];
    }

    /** YYYYMMDDYYYYMMDD (from, until). */
    public String getValidity() {
        return fields[7];
    }

    /**
     * Where the decoded photo was written (zp.bmp beside the library); the file exists only when the
     * photo decoder is installed.
     */
    public String getPhotoPath() {
        return photoPath;
    }
}

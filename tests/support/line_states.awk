# The levels a .log trace's register writes put on SCL, SDA and /SHDN, one
# line "SCL SDA /SHDN" a change, as a line backend sets them: /SHDN first;
# where SCL falls, SCL before SDA; where it rises and SDA moves, SDA before
# SCL. The VM tier and the Windows tests compare adapters' pins with it.
BEGIN { scl = 1; sda = 1; shdn = 1 }
$1 == "out" {
    v = 0; h = substr($3, 3)
    for (i = 1; i <= length(h); i++) v = v * 16 + index("0123456789abcdef", substr(h, i, 1)) - 1
    nscl = int(v / 2) % 2; nsda = v % 2; nshdn = int(v / 16) % 2
    if (nshdn != shdn) { shdn = nshdn; print scl, sda, shdn }
    if (!scl && nscl && nsda != sda) { sda = nsda; print scl, sda, shdn }
    if (nscl != scl) { scl = nscl; print scl, sda, shdn }
    if (nsda != sda) { sda = nsda; print scl, sda, shdn }
}

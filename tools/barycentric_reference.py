#!/usr/bin/python3
"""Reference values for tests/common_test.cpp: the observer's velocity toward a
source relative to the solar-system barycentre, and its rate, from astropy.

Run once by hand (Debian 12: apt-get install python3-astropy), offline:

    /usr/bin/python3 tools/barycentric_reference.py

For each case it prints, in m/s:
  correction  astropy's SkyCoord.radial_velocity_correction(kind='barycentric'),
              what is added to a measured radial velocity: c (z_b - 1) with
              z_b = gamma (1 + beta.n) / (1 + gr/c), so it is PLUS the
              observer's velocity toward the source, with the special-
              relativistic gamma and the site's gravitational redshift;
  kinematic   n . (v_earth + v_site), the same components astropy uses for the
              correction without gamma and gr, with its IERS table (UT1 - UTC
              and polar motion);
  as_okrelt   the same with UT1 = UTC and no polar motion, as
              okrelt::observer_motion takes them: the figure the test holds;
and the rate, m/s^2, as a centred difference of as_okrelt over +-10 s.
"""

import astropy.coordinates.builtin_frames.intermediate_rotation_transforms as rotations
import astropy.units as u
from astropy.coordinates import EarthLocation, SkyCoord, get_body_barycentric_posvel
from astropy.time import Time, TimeDelta
from astropy.utils import iers

iers.conf.auto_download = False   # the bundled IERS-B table covers every date below

ARECIBO = EarthLocation.from_geodetic(lon=-66.7528 * u.deg, lat=18.3464 * u.deg, height=497.0 * u.m)

# (UTC Julian date, right ascension hours, declination degrees)
CASES = [
    (2453444.75, 5.5, 20.0),      # 2005-03-15 06:00 UTC
    (2455806.0625, 18.0, -10.0),  # 2011-09-01 13:30 UTC
    (2458838.4270833335, 12.0, 35.0),  # 2019-12-20 22:15 UTC
]
HALF_STEP = TimeDelta(10.0, format="sec")


def kinematic(time, direction):
    """n . (v_earth + v_site) in m/s, as radial_velocity_correction forms it."""
    velocity = get_body_barycentric_posvel("earth", time)[1] + ARECIBO.get_gcrs_posvel(time)[1]
    return direction.dot(velocity).to_value(u.m / u.s)


def as_okrelt(time, direction):
    """The same with UT1 = UTC and no polar motion."""
    time = Time(time, location=ARECIBO)
    time.delta_ut1_utc = 0.0
    polar_motion = rotations.get_polar_motion
    rotations.get_polar_motion = lambda moment: (0.0, 0.0)
    try:
        return kinematic(time, direction)
    finally:
        rotations.get_polar_motion = polar_motion


def main():
    for jd, ra_hours, dec_deg in CASES:
        time = Time(jd, format="jd", scale="utc", location=ARECIBO)
        source = SkyCoord(ra=ra_hours * 15.0 * u.deg, dec=dec_deg * u.deg, frame="icrs")
        direction = source.cartesian
        correction = source.radial_velocity_correction(kind="barycentric", obstime=time).to_value(u.m / u.s)
        here = as_okrelt(time, direction)
        rate = (as_okrelt(time + HALF_STEP, direction) - as_okrelt(time - HALF_STEP, direction)) / 20.0
        print(f"jd {jd!r} ra {ra_hours} h dec {dec_deg} deg ({time.iso} UTC)")
        print(f"  correction {correction:.6f}  kinematic {kinematic(time, direction):.6f}  as_okrelt {here:.6f}"
              f"  correction - as_okrelt {correction - here:.6f}  rate {rate:.9e}")


if __name__ == "__main__":
    main()
